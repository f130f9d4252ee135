// The listener on its own: it asks once per request until told the publication was made, it
// stops when asked, and a lock left held by a dead renderer does not stall it.
#include "listener_thread.h"

#include <QTest>
#include <atomic>

#include "boundary/settings_record.h"
#include "boundary/shared_segment.h"
#include "support/panel_test_support.h"

using namespace quendel;
using namespace quendel::testing;

class ListenerThreadTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { QVERIFY(m_segment.create(kSettingsSegmentSize)); }
    void cleanup() {
        m_segment.close();
        m_names.removeAll();
    }

    void asksOncePerRequestUntilThePublicationIsDone() {
        std::atomic<int> requests = 0;
        ListenerThread listener(m_segment, std::chrono::milliseconds(500), {},
                                [&requests] { ++requests; });
        listener.start();
        QTest::qWait(300);
        QCOMPARE(requests.load(), 0);

        writeRendererRequest(m_names.names(), "exitnow");
        QTRY_COMPARE_WITH_TIMEOUT(requests.load(), 1, 1000);
        // The request is still in the segment, but the answer is on its way.
        QTest::qWait(3 * 200);
        QCOMPARE(requests.load(), 1);

        listener.publicationDone();
        QTRY_COMPARE_WITH_TIMEOUT(requests.load(), 2, 1000);
        listener.stop();
        QVERIFY(listener.isFinished());
    }

    void stopEndsTheLoopAndIsSafeToRepeat() {
        ListenerThread listener(m_segment, std::chrono::milliseconds(500), {}, [] {});
        listener.start();
        QTest::qWait(50);
        listener.stop();
        QVERIFY(listener.isFinished());
        listener.stop();
        QVERIFY(listener.isFinished());
    }

    void lockHeldByADeadRendererIsTakenOverAndReported() {
        SharedSegment holder(m_names.names().settings);
        QVERIFY(holder.attach());
        QCOMPARE(holder.lock(std::chrono::milliseconds(100)), SharedSegment::LockResult::Acquired);
        writeRequestText(m_segment.bytes(), "exitnow");

        std::atomic<int> takeOvers = 0;
        std::atomic<int> requests = 0;
        ListenerThread listener(
            m_segment, std::chrono::milliseconds(100),
            [&takeOvers](const SharedSegment&) { ++takeOvers; }, [&requests] { ++requests; });
        listener.start();
        QTRY_COMPARE_WITH_TIMEOUT(requests.load(), 1, 2000);
        QCOMPARE(takeOvers.load(), 1);
        listener.stop();
    }

  private:
    ScopedSegmentNames m_names{"listener"};
    SharedSegment m_segment{m_names.names().settings};
};

QTEST_MAIN(ListenerThreadTest)
#include "listener_thread_test.moc"
