#include "renderer_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <utility>

namespace quendel {

namespace {

#ifdef Q_OS_LINUX
// The kernel keeps at most 15 characters of a process name.
constexpr qsizetype processNameLength = 15;

// True when /proc/<pid>/stat describes a live process of the given name.
bool isLiveProcessNamed(const QString& statPath, const QByteArray& name) {
    QFile stat(statPath);
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray line = stat.readAll();
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.lastIndexOf(')');
    if (open < 0 || close < open || close + 2 >= line.size()) {
        return false;
    }
    const char state = line.at(close + 2);
    return line.mid(open + 1, close - open - 1) == name && state != 'Z' && state != 'X';
}
#endif

}  // namespace

QString RendererLauncher::defaultExecutableName() {
#ifdef Q_OS_WIN
    return QStringLiteral("telvo.exe");
#else
    return QStringLiteral("telvo");
#endif
}

RendererLauncher::RendererLauncher(QString executableName)
    : m_executableName(std::move(executableName)) {}

QString RendererLauncher::program() const {
    const QString local = QStringLiteral("./") + m_executableName;
    const QFileInfo info(local);
    if (info.isFile() && info.isExecutable()) {
        return local;
    }
    return m_executableName;
}

bool RendererLauncher::endAll(int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    QProcess command;
#ifdef Q_OS_WIN
    command.start(QStringLiteral("taskkill"), {QStringLiteral("/IM"), m_executableName},
                  QIODevice::ReadWrite);
#else
    command.start(QStringLiteral("pkill"), {QStringLiteral("-x"), m_executableName},
                  QIODevice::ReadWrite);
#endif
    command.waitForFinished(static_cast<int>(deadline.remainingTime()));
    if (command.state() != QProcess::NotRunning) {
        command.kill();
        command.waitForFinished();
    }
    // The command only signals; the renderers need a moment to go.
    while (anyRunning()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

bool RendererLauncher::startDetached(const QStringList& arguments, qint64* pid) const {
    return QProcess::startDetached(program(), arguments, QString(), pid);
}

bool RendererLauncher::anyRunning() const {
#ifdef Q_OS_LINUX
    const QByteArray name = m_executableName.toLocal8Bit().left(processNameLength);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        entry.toLongLong(&isPid);
        if (isPid &&
            isLiveProcessNamed(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"), name)) {
            return true;
        }
    }
#endif
    return false;
}

}  // namespace quendel
