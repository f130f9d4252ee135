#pragma once

#include <QString>
#include <QStringList>

namespace quendel {

// Finds, ends and starts the external renderer, which is known only by its executable name.
class RendererLauncher {
  public:
    // How long ending the running renderers may block the panel.
    static constexpr int kEndTimeoutMs = 30000;

    // "telvo", with ".exe" on Windows.
    static QString defaultExecutableName();

    explicit RendererLauncher(QString executableName = defaultExecutableName());

    const QString& executableName() const { return m_executableName; }
    // Tests give their stand-in a name of its own so that they never end someone else's renderer.
    void setExecutableName(const QString& executableName) { m_executableName = executableName; }

    // "./<name>" when the working directory holds that executable, else the bare name, which is
    // looked up on PATH when the renderer starts.
    QString program() const;

    // Ends every process of that name, also those started by others, and waits until none is
    // left, at most timeoutMs. Returns false when some are still running at the deadline.
    bool endAll(int timeoutMs = kEndTimeoutMs) const;

    // Starts the renderer detached, in the working directory, so that it outlives the panel. The
    // new process id goes to pid when given.
    bool startDetached(const QStringList& arguments, qint64* pid = nullptr) const;

    // Whether a process of that name is running (exited processes that nobody reaped do not count).
    bool anyRunning() const;

  private:
    QString m_executableName;
};

}  // namespace quendel
