#include <gtest/gtest.h>

#include <thread>

#include "foundations/team_for_work.h"
#include "quendel/threads.h"

namespace {

TEST(TeamShare, CapsTheTeamOfItsOwnThreadOnlyAndEndsWithItsScope) {
    const int limit = quendel::processorLimit();
    quendel::setProcessorLimit(8);
    quendel::setThreadCount(8);
    {
        const quendel::TeamShare half(2);
        EXPECT_EQ(quendel::workerCount(), 4);
        int elsewhere = 0;
        std::thread([&] { elsewhere = quendel::workerCount(); }).join();
        EXPECT_EQ(elsewhere, 8) << "another thread keeps the whole machine";
        {
            const quendel::TeamShare thin(100);
            EXPECT_EQ(quendel::workerCount(), 1) << "never less than one thread";
        }
        EXPECT_EQ(quendel::workerCount(), 4);
        quendel::setThreadCount(3);
        EXPECT_EQ(quendel::workerCount(), 3) << "a smaller team stays as it is";
    }
    EXPECT_EQ(quendel::workerCount(), 3);
    quendel::setThreadCount(quendel::kDefaultThreadCount);
    quendel::setProcessorLimit(limit);
}

}  // namespace
