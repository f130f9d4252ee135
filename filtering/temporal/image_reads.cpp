#include "temporal/image_reads.h"

#include <algorithm>
#include <cmath>

namespace filtering {

namespace {

// The whole pixel at or before `at` on an axis of `length` pixels, `at`
// first held to the image, and the fraction past it.
int wholePixel(float at, int length, float& fraction) {
    const float held = std::clamp(at, 0.0f, float(length - 1));
    const int whole = std::min(int(held), std::max(length - 2, 0));
    fraction = held - float(whole);
    return whole;
}

// The weights of the four pixels at -1, 0, 1, 2 around a place `t` past
// pixel 0.
void catmullRomWeights(float t, float weights[4]) {
    const float t2 = t * t, t3 = t2 * t;
    weights[0] = 0.5f * (-t3 + 2.0f * t2 - t);
    weights[1] = 0.5f * (3.0f * t3 - 5.0f * t2 + 2.0f);
    weights[2] = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
    weights[3] = 0.5f * (t3 - t2);
}

}  // namespace

cv::Vec3f bilinearRead(const cv::Mat& image, cv::Point2f at) {
    float ax = 0, ay = 0;
    const int x0 = wholePixel(at.x, image.cols, ax), y0 = wholePixel(at.y, image.rows, ay);
    const int x1 = std::min(x0 + 1, image.cols - 1), y1 = std::min(y0 + 1, image.rows - 1);
    const cv::Vec3f top = image.at<cv::Vec3f>(y0, x0) * (1 - ax) + image.at<cv::Vec3f>(y0, x1) * ax;
    const cv::Vec3f bottom =
        image.at<cv::Vec3f>(y1, x0) * (1 - ax) + image.at<cv::Vec3f>(y1, x1) * ax;
    return top * (1 - ay) + bottom * ay;
}

cv::Vec3f cubicRead(const cv::Mat& image, cv::Point2f at) {
    float ax = 0, ay = 0;
    const int x0 = wholePixel(at.x, image.cols, ax), y0 = wholePixel(at.y, image.rows, ay);
    float wx[4], wy[4];
    catmullRomWeights(ax, wx);
    catmullRomWeights(ay, wy);
    cv::Vec3f sum(0, 0, 0);
    cv::Vec3f least = cv::Vec3f::all(INFINITY), greatest = cv::Vec3f::all(-INFINITY);
    for (int j = 0; j < 4; ++j) {
        const int y = std::clamp(y0 - 1 + j, 0, image.rows - 1);
        const cv::Vec3f* row = image.ptr<cv::Vec3f>(y);
        cv::Vec3f across(0, 0, 0);
        for (int i = 0; i < 4; ++i) {
            const cv::Vec3f& value = row[std::clamp(x0 - 1 + i, 0, image.cols - 1)];
            across += wx[i] * value;
            if ((i == 1 || i == 2) && (j == 1 || j == 2)) {
                for (int c = 0; c < 3; ++c) {
                    least[c] = std::min(least[c], value[c]);
                    greatest[c] = std::max(greatest[c], value[c]);
                }
            }
        }
        sum += wy[j] * across;
    }
    for (int c = 0; c < 3; ++c) sum[c] = std::clamp(sum[c], least[c], greatest[c]);
    return sum;
}

}  // namespace filtering
