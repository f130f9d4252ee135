#include "xml_syntax_highlighter.h"

#include <QFont>

namespace quendel {

namespace {

// Block state telling the next block that a comment is still open.
constexpr int insideComment = 1;
constexpr int outsideComment = 0;

QTextCharFormat foreground(Qt::GlobalColor colour) {
    QTextCharFormat format;
    format.setForeground(colour);
    return format;
}

}  // namespace

XmlSyntaxHighlighter::XmlSyntaxHighlighter(QTextDocument* document)
    : QSyntaxHighlighter(document),
      m_commentStart(QStringLiteral("<!--")),
      m_commentEnd(QStringLiteral("-->")) {
    QTextCharFormat tagFormat = foreground(Qt::darkBlue);
    tagFormat.setFontWeight(QFont::Bold);
    m_rules.push_back({QRegularExpression(QStringLiteral(
                           R"((<[a-zA-Z:_-]+\b|<\?[a-zA-Z:_-]+\b|\?>|>|/>|</[a-zA-Z:_-]+>))")),
                       tagFormat});
    m_rules.push_back(
        {QRegularExpression(QStringLiteral("[a-zA-Z:_-]+=")), foreground(Qt::darkGreen)});
    m_rules.push_back(
        {QRegularExpression(QStringLiteral(R"(("[^"]*"|'[^']*'))")), foreground(Qt::red)});

    m_commentFormat = foreground(Qt::lightGray);
    m_commentFormat.setFontItalic(true);
}

void XmlSyntaxHighlighter::highlightBlock(const QString& text) {
    applyRules(text);
    setCurrentBlockState(outsideComment);
    applyComments(text);
}

void XmlSyntaxHighlighter::applyRules(const QString& text) {
    for (const Rule& rule : m_rules) {
        QRegularExpressionMatch match = rule.pattern.match(text);
        while (match.hasMatch()) {
            const qsizetype start = match.capturedStart();
            const qsizetype length = match.capturedLength();
            setFormat(start, length, rule.format);
            match = rule.pattern.match(text, start + length);
        }
    }
}

void XmlSyntaxHighlighter::applyComments(const QString& text) {
    qsizetype start = -1;
    if (previousBlockState() == insideComment) {
        start = 0;
    } else {
        start = m_commentStart.match(text).capturedStart();
    }
    while (start >= 0) {
        const QRegularExpressionMatch end = m_commentEnd.match(text, start);
        qsizetype length = 0;
        if (end.hasMatch()) {
            length = end.capturedStart() - start + end.capturedLength();
        } else {
            setCurrentBlockState(insideComment);
            length = text.length() - start;
        }
        setFormat(start, length, m_commentFormat);
        start = m_commentStart.match(text, start + length).capturedStart();
    }
}

}  // namespace quendel
