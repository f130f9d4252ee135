#pragma once

#include <cstdio>
#include <opencv2/core.hpp>

#include "quendel/instruction_set.h"

// The instruction sets both sides ran on: ours as QUENDEL_ISA and the
// processor left it, OpenCV's as OPENCV_CPU_DISABLE and the processor left
// them.
inline void printInstructionSets() {
    std::printf("instruction set: ours %s; OpenCV AVX2 %s, AVX-512 %s\n",
                quendel::instructionSetName(quendel::activeInstructionSet()),
                cv::checkHardwareSupport(CV_CPU_AVX2) ? "on" : "off",
                cv::checkHardwareSupport(CV_CPU_AVX_512F) ? "on" : "off");
}
