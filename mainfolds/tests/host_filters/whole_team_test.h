#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "quendel/texture.h"
#include "quendel/threads.h"

namespace quendel::test {

// Even the small images of these tests are split across the whole team.
class WholeTeamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        defaultWork = minimumWorkPerThread();
        setMinimumWorkPerThread(1);
    }
    void TearDown() override {
        setThreadCount(kDefaultThreadCount);
        setMinimumWorkPerThread(defaultWork);
    }
    std::size_t defaultWork = 0;
};

// Every plane of a texture, one after another.
inline std::vector<float> contents(const CpuTexture& texture) {
    std::vector<float> all;
    for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
        const float* plane = texture.getChannel(c);
        all.insert(all.end(), plane, plane + texture.getPixelsCount());
    }
    return all;
}

}  // namespace quendel::test
