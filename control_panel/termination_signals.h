#pragma once

#include <QObject>

class QSocketNotifier;

namespace quendel {

// Turns SIGINT and SIGTERM into a Qt signal delivered on the GUI thread, so the panel can end
// the orderly way instead of dying with its segments and log half-written. One instance at a time.
class TerminationSignals : public QObject {
    Q_OBJECT

  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

  signals:
    void terminationRequested();

  private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace quendel
