#pragma once

#include <QRegularExpression>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <vector>

class QTextDocument;

namespace quendel {

// Colours XML text: tags dark blue and bold, attribute names dark green, quoted values red, and
// comments light grey and italic, also when a comment spans several lines.
class XmlSyntaxHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

  public:
    explicit XmlSyntaxHighlighter(QTextDocument* document);

  protected:
    void highlightBlock(const QString& text) override;

  private:
    struct Rule {
        QRegularExpression pattern;
        QTextCharFormat format;
    };

    void applyRules(const QString& text);
    void applyComments(const QString& text);

    std::vector<Rule> m_rules;
    QRegularExpression m_commentStart;
    QRegularExpression m_commentEnd;
    QTextCharFormat m_commentFormat;
};

}  // namespace quendel
