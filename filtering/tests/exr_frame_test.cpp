// OpenEXR frames as renderers save them: their passes found by name, read
// into the frame the filter takes, and the result written back.
#include "frame_io/exr_frame.h"

#include <ImfInputFile.h>
#include <ImfStringAttribute.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "exr_fixture.h"
#include "frame_io/camera_fit.h"
#include "frame_io/exr_output.h"
#include "test_files.h"

using namespace filtering;

namespace {

// Values that half floats hold exactly, so that every pixel type gives one frame.
float primaryValue(int x, int y, int k) {
    return 0.25f + float((3 * x + 5 * y + k) % 8) / 16.0f;
}
float secondaryValue(int x, int y, int k) {
    return float((x + 2 * y + k) % 5) / 8.0f;
}
float colourValue(int x, int y, int k) {
    return 0.5f + float((x * y + k) % 4) / 8.0f;
}
float normalValue(int x, int y, int k) {
    return k == 2 ? 0.75f : ((x + y + k) % 2 ? 0.5f : -0.5f);
}
float positionValue(int x, int y, int k) {
    return k == 0 ? float(x) : k == 1 ? float(y) : 4.0f + float(x % 3);
}
float beautyValue(int x, int y, int k) {
    return 1.0f + float((7 * x + y + k) % 16) / 4.0f;
}

void addCyclesFrame(ExrFixture& fixture, const std::string& layer = "ViewLayer") {
    addPass(fixture, layer + ".Combined", beautyValue);
    addPass(fixture, layer + ".DiffDir", primaryValue);
    addPass(fixture, layer + ".DiffInd", secondaryValue);
    addPass(fixture, layer + ".DiffCol", colourValue);
    addPass(fixture, layer + ".Normal", normalValue, "XYZ");
    addPass(fixture, layer + ".Position", positionValue, "XYZ");
}

void addCommonFrame(ExrFixture& fixture) {
    addPass(fixture, "", beautyValue);
    fixture.channels.push_back({"A", [](int, int) { return 1.0f; }});
    addPass(fixture, "diffuse_direct", primaryValue);
    addPass(fixture, "diffuse_indirect", secondaryValue);
    addPass(fixture, "diffuse_albedo", colourValue);
    addPass(fixture, "N", normalValue, "XYZ");
    addPass(fixture, "P", positionValue, "XYZ");
}

ExrReadOptions withCamera() {
    ExrReadOptions options;
    options.camera = CameraPosition{1.0f, 2.0f, -3.0f};
    return options;
}

double largestDifference(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() ? cv::norm(a, b, cv::NORM_INF) : INFINITY;
}

}  // namespace

TEST(ExrPasses, FindsEitherSchemeAndSaysWhatIsMissing) {
    std::string error;
    const std::vector<std::string> cycles = {
        "ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
        "ViewLayer.Combined.A", "ViewLayer.DiffDir.R",  "ViewLayer.DiffDir.G",
        "ViewLayer.DiffDir.B",  "ViewLayer.DiffInd.R",  "ViewLayer.DiffInd.G",
        "ViewLayer.DiffInd.B",  "ViewLayer.DiffCol.R",  "ViewLayer.DiffCol.G",
        "ViewLayer.DiffCol.B",  "ViewLayer.Normal.X",   "ViewLayer.Normal.Y",
        "ViewLayer.Normal.Z",   "ViewLayer.Depth.Z"};
    const auto found = findPasses(cycles, {}, error);
    ASSERT_TRUE(found) << error;
    EXPECT_EQ(found->layer, "ViewLayer");
    EXPECT_EQ((*found)[PassRole::Primary]->channels,
              (std::vector<std::string>{"ViewLayer.DiffDir.R", "ViewLayer.DiffDir.G",
                                        "ViewLayer.DiffDir.B"}));
    EXPECT_EQ((*found)[PassRole::Depth]->channels, std::vector<std::string>{"ViewLayer.Depth.Z"});
    EXPECT_EQ((*found)[PassRole::Beauty]->alpha, "ViewLayer.Combined.A");
    EXPECT_FALSE((*found)[PassRole::Positions]);
    EXPECT_FALSE((*found)[PassRole::Rest]);

    const std::vector<std::string> common = {"R",
                                             "G",
                                             "B",
                                             "Z",
                                             "diffuse_direct.R",
                                             "diffuse_direct.G",
                                             "diffuse_direct.B",
                                             "diffuse_indirect.R",
                                             "diffuse_indirect.G",
                                             "diffuse_indirect.B",
                                             "diffuse_albedo.R",
                                             "diffuse_albedo.G",
                                             "diffuse_albedo.B",
                                             "N.X",
                                             "N.Y",
                                             "N.Z",
                                             "P.X",
                                             "P.Y",
                                             "P.Z"};
    const auto aov = findPasses(common, {}, error);
    ASSERT_TRUE(aov) << error;
    EXPECT_EQ((*aov)[PassRole::Beauty]->channels, (std::vector<std::string>{"R", "G", "B"}));
    EXPECT_EQ((*aov)[PassRole::Depth]->channels, std::vector<std::string>{"Z"});
    EXPECT_EQ((*aov)[PassRole::Positions]->channels,
              (std::vector<std::string>{"P.X", "P.Y", "P.Z"}));

    // Without its secondary light: the role, the names looked for, the file's passes.
    std::vector<std::string> lacking = cycles;
    std::erase_if(
        lacking, [](const std::string& name) { return name.find("DiffInd") != std::string::npos; });
    EXPECT_FALSE(findPasses(lacking, {}, error));
    EXPECT_NE(error.find("no secondary pass"), std::string::npos) << error;
    EXPECT_NE(error.find("ViewLayer.DiffInd"), std::string::npos) << error;
    EXPECT_NE(error.find("ViewLayer.Combined (R G B A)"), std::string::npos) << error;

    // A pass with two of its three channels.
    std::vector<std::string> cut = cycles;
    std::erase(cut, "ViewLayer.DiffCol.B");
    EXPECT_FALSE(findPasses(cut, {}, error));
    EXPECT_NE(error.find("texcolor pass has too few channels"), std::string::npos) << error;

    // Neither positions nor depth.
    std::vector<std::string> flat = cycles;
    std::erase(flat, "ViewLayer.Depth.Z");
    EXPECT_FALSE(findPasses(flat, {}, error));
    EXPECT_NE(error.find("no positions pass"), std::string::npos) << error;
    EXPECT_NE(error.find("or a depth pass: ViewLayer.Depth"), std::string::npos) << error;
}

TEST(ExrPasses, ViewLayersAndPassesChosenByName) {
    std::vector<std::string> channels;
    for (const std::string layer : {"Front", "Back"}) {
        for (const std::string pass :
             {"Combined", "DiffDir", "DiffInd", "DiffCol", "Normal", "Position"}) {
            for (const std::string component : {"R", "G", "B"}) {
                channels.push_back(layer + "." + pass + "." + component);
            }
        }
    }
    channels.push_back("Back.MyLight.R");
    channels.push_back("Back.MyLight.G");
    channels.push_back("Back.MyLight.B");
    std::string error;
    EXPECT_FALSE(findPasses(channels, {}, error));
    EXPECT_NE(error.find("several view layers: Back Front"), std::string::npos) << error;
    EXPECT_NE(error.find("--layer"), std::string::npos) << error;

    PassChoice choice;
    choice.layer = "Back";
    choice.passes[PassRole::Secondary] = "MyLight";
    const auto back = findPasses(channels, choice, error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ((*back)[PassRole::Primary]->pass, "Back.DiffDir");
    EXPECT_EQ((*back)[PassRole::Secondary]->pass, "Back.MyLight");

    choice.layer = "Side";
    EXPECT_FALSE(findPasses(channels, choice, error));
    EXPECT_NE(error.find("no view layer Side"), std::string::npos) << error;
    EXPECT_EQ(roleFromName("texcolor"), PassRole::TexColor);
    EXPECT_FALSE(roleFromName("glossy"));
}

TEST(ExrFrame, EverySchemePixelTypeAndLayoutGivesTheSameFrame) {
    TemporaryFolder folder;
    ExrFixture cyclesFloat;
    addCyclesFrame(cyclesFloat);
    const std::string cyclesPath = (folder.path() / "cycles.exr").string();
    cyclesFloat.write(cyclesPath);
    const auto reference = loadExrFrame(cyclesPath, withCamera());
    ASSERT_TRUE(reference);
    const Frame& frame = reference->frame;
    ASSERT_EQ(frame[Primary].size(), cv::Size(8, 6));
    // Working order as `.imagef4` layers load: the third component first.
    EXPECT_EQ(frame[Primary].at<cv::Vec3f>(2, 3)[2], primaryValue(3, 2, 0));
    EXPECT_EQ(frame[Positions].at<cv::Vec3f>(5, 7)[0], positionValue(7, 5, 2));
    // No rest pass: the beauty less the diffuse light.
    const cv::Vec3f rest = frame[Rest].at<cv::Vec3f>(4, 1);
    EXPECT_EQ(rest[0], beautyValue(1, 4, 2) - colourValue(1, 4, 2) * (primaryValue(1, 4, 2) +
                                                                      secondaryValue(1, 4, 2)));
    EXPECT_TRUE(frame[TexCoord].empty());
    EXPECT_EQ(frame.camera.z, -3.0f);
    EXPECT_EQ(frame.settings.rangeSigma, kDefaultSettings.rangeSigma);

    struct Variant {
        const char* name;
        bool common, tiled;
        Imf::PixelType type;
        Imf::Compression compression;
    };
    for (const Variant& variant :
         {Variant{"common half tiled", true, true, Imf::HALF, Imf::PIZ_COMPRESSION},
          Variant{"common float scanline", true, false, Imf::FLOAT, Imf::NO_COMPRESSION},
          Variant{"cycles half tiled", false, true, Imf::HALF, Imf::ZIPS_COMPRESSION},
          Variant{"cycles float rle", false, false, Imf::FLOAT, Imf::RLE_COMPRESSION}}) {
        ExrFixture fixture;
        variant.common ? addCommonFrame(fixture) : addCyclesFrame(fixture);
        fixture.tiled = variant.tiled;
        fixture.type = variant.type;
        fixture.compression = variant.compression;
        const std::string path = (folder.path() / "variant.exr").string();
        fixture.write(path);
        const auto loaded = loadExrFrame(path, withCamera());
        ASSERT_TRUE(loaded) << variant.name;
        for (Layer layer : {Primary, Secondary, TexColor, Normals, Positions, Rest}) {
            EXPECT_EQ(largestDifference(loaded->frame[layer], frame[layer]), 0.0)
                << variant.name << ", layer " << layer;
        }
    }
}

TEST(ExrFrame, DataWindowIsDenoisedWhereItIsAndWrittenBackInPlace) {
    TemporaryFolder folder;
    ExrFixture fixture;
    addCommonFrame(fixture);
    fixture.dataOffset = Imath::V2i(-3, 5);
    fixture.displayWindow = Imath::Box2i({0, 0}, {19, 15});
    fixture.decorate = [](Imf::Header& header) {
        header.pixelAspectRatio() = 2.0f;
        header.insert("studio.shot", Imf::StringAttribute("sh010"));
    };
    const std::string input = (folder.path() / "window.exr").string();
    fixture.write(input);
    const auto loaded = loadExrFrame(input, withCamera());
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->frame[Primary].size(), cv::Size(fixture.width, fixture.height));
    EXPECT_EQ(loaded->frame[Secondary].at<cv::Vec3f>(0, 0)[2], secondaryValue(0, 0, 0));

    cv::Mat image(fixture.height, fixture.width, CV_32FC3);
    cv::randu(image, 0.0f, 4.0f);
    const std::string output = (folder.path() / "out.exr").string();
    ASSERT_TRUE(writeExrImage(output, image, loaded->alpha, &loaded->header, input, {}));
    Imf::InputFile written(output.c_str());
    const Imf::Header& header = written.header();
    EXPECT_EQ(header.dataWindow(), fixture.dataWindow());
    EXPECT_EQ(header.displayWindow(), fixture.displayWindow);
    EXPECT_EQ(header.pixelAspectRatio(), 2.0f);
    ASSERT_NE(header.findTypedAttribute<Imf::StringAttribute>("studio.shot"), nullptr);
    EXPECT_NE(header.channels().findChannel("R"), nullptr);
    EXPECT_EQ(header.channels().findChannel("diffuse_direct.R"), nullptr);
    std::vector<float> red(static_cast<size_t>(fixture.width * fixture.height));
    Imf::FrameBuffer buffer;
    buffer.insert(
        "R", Imf::Slice::Make(Imf::FLOAT, red.data(), fixture.dataWindow(), 4, 4 * fixture.width));
    written.setFrameBuffer(buffer);
    written.readPixels(fixture.dataWindow().min.y, fixture.dataWindow().max.y);
    EXPECT_EQ(red[static_cast<size_t>(2 * fixture.width + 3)], image.at<cv::Vec3f>(2, 3)[2]);
}

TEST(ExrFrame, TheCameraFromTheOptionsTheHeaderTheDepthOrNone) {
    TemporaryFolder folder;
    const std::string path = (folder.path() / "frame.exr").string();
    ExrFixture fixture;
    addCyclesFrame(fixture);
    fixture.decorate = [](Imf::Header& header) {
        Imath::M44f toCamera;
        toCamera.setTranslation(Imath::V3f(-0.5f, 0.25f, 7.0f));
        Imf::addWorldToCamera(header, toCamera);
    };
    fixture.write(path);
    auto loaded = loadExrFrame(path, {});
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->distances, DistanceSource::HeaderCamera);
    EXPECT_EQ(loaded->frame.camera.x, 0.5f);
    EXPECT_EQ(loaded->frame.camera.z, -7.0f);
    loaded = loadExrFrame(path, withCamera());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->distances, DistanceSource::GivenCamera);
    EXPECT_EQ(loaded->frame.camera.y, 2.0f);

    // Neither a camera nor a depth pass.
    fixture.decorate = nullptr;
    fixture.write(path);
    EXPECT_FALSE(loadExrFrame(path, {}));

    // Depth alone: it becomes the distance map; the sky takes no part in its range.
    fixture.channels.erase(std::remove_if(fixture.channels.begin(), fixture.channels.end(),
                                          [](const ExrChannel& c) {
                                              return c.name.find("Position") != std::string::npos;
                                          }),
                           fixture.channels.end());
    fixture.channels.push_back(
        {"ViewLayer.Depth.Z", [](int x, int) { return x == 0 ? 1e10f : 2.0f + float(x); }});
    fixture.write(path);
    loaded = loadExrFrame(path, {});
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->distances, DistanceSource::Depth);
    EXPECT_EQ(loaded->frame[Positions].at<cv::Vec3f>(1, 4), cv::Vec3f(0.0f, 0.0f, 6.0f));
    ASSERT_FALSE(loaded->frame.repaired[Positions].empty());
    EXPECT_EQ(loaded->frame.repaired[Positions].at<uint8_t>(3, 0), 255);
    EXPECT_EQ(loaded->frame.repaired[Positions].at<uint8_t>(3, 1), 0);
}

TEST(CameraFit, FindsThePinholeThatMadeThePositionsAndDepth) {
    const cv::Vec3d camera(1.5, -2.0, 3.25);
    // A camera turned about its vertical axis, looking at a floor and a slanted wall.
    const double turn = 0.4;
    const cv::Vec3d forward(std::sin(turn), 0.0, std::cos(turn)),
        right(std::cos(turn), 0.0, -std::sin(turn)), up(0.0, 1.0, 0.0);
    const int width = 40, height = 30;
    cv::Mat positions(height, width, CV_32FC3), axisDepth(height, width, CV_32F),
        range(height, width, CV_32F);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width * 2.0 - 1.0, v = (y + 0.5) / height * 2.0 - 1.0;
            const cv::Vec3d ray = forward + 0.6 * u * right + 0.45 * v * up;
            // Floor below the horizon, a wall at 6 + x / 20 along the view above it.
            const double depth = v > 0.1 ? 1.8 / (0.45 * v) : 6.0 + 0.05 * x + 0.02 * y;
            const cv::Vec3d point = camera + depth * ray;
            positions.at<cv::Vec3f>(y, x) =
                cv::Vec3f(float(point[2]), float(point[1]), float(point[0]));
            axisDepth.at<float>(y, x) = y == 0 && x < 5 ? 1e10f : float(depth);
            range.at<float>(y, x) = float(cv::norm(point - camera));
        }
    }
    for (const cv::Mat& depth : {axisDepth, range}) {
        const auto fitted = fitCamera(positions, depth);
        ASSERT_TRUE(fitted);
        EXPECT_NEAR(fitted->x, camera[0], 1e-3);
        EXPECT_NEAR(fitted->y, camera[1], 1e-3);
        EXPECT_NEAR(fitted->z, camera[2], 1e-3);
    }
    // Depths that no camera explains, and a wall seen face on, give no camera.
    cv::Mat scrambled;
    cv::randu(scrambled = cv::Mat(height, width, CV_32F), 1.0f, 9.0f);
    EXPECT_FALSE(fitCamera(positions, scrambled));
    EXPECT_FALSE(fitCamera(positions, cv::Mat(height, width, CV_32F, cv::Scalar(5.0f))));
}

TEST(ExrFrame, BadSamplesAreRepairedAndNamedByTheirPass) {
    TemporaryFolder folder;
    ExrFixture fixture;
    addCommonFrame(fixture);
    for (ExrChannel& channel : fixture.channels) {
        if (channel.name == "diffuse_indirect.G") {
            channel.value = [](int x, int y) { return x == 2 && y == 3 ? NAN : 0.5f; };
        }
    }
    const std::string path = (folder.path() / "nan.exr").string();
    fixture.write(path);
    testing::internal::CaptureStderr();
    const auto loaded = loadExrFrame(path, withCamera());
    const std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded);
    EXPECT_NE(messages.find("nan.exr: diffuse_indirect: 1 non-finite values replaced"),
              std::string::npos)
        << messages;
    EXPECT_EQ(loaded->frame[Secondary].at<cv::Vec3f>(3, 2)[1], 0.5f);
    ASSERT_FALSE(loaded->frame.repaired[Secondary].empty());
    EXPECT_EQ(loaded->frame.repaired[Secondary].at<uint8_t>(3, 2), 255);
}

// Glossy passes are read apart when all three are there, under either
// scheme's names; the rest layer still holds the glossy light, so the
// default run is what it was, and a glossy pass with a bad sample is left out.
TEST(ExrFrame, GlossyPassesAreReadApartWhenAllThreeAreWhole) {
    TemporaryFolder folder;
    auto glossyDirect = [](int x, int y, int k) { return float((x + y + k) % 3) / 4.0f; };
    auto glossyIndirect = [](int x, int, int k) { return float(x % 2 + k) / 8.0f; };
    auto glossyColour = [](int, int y, int k) { return 0.25f + float((y + k) % 2) / 4.0f; };
    struct Scheme {
        std::string name;
        std::function<void(ExrFixture&)> frame;
        std::string direct, indirect, colour;
    };
    const std::vector<Scheme> schemes = {
        {"Cycles", [](ExrFixture& f) { addCyclesFrame(f); }, "ViewLayer.GlossDir",
         "ViewLayer.GlossInd", "ViewLayer.GlossCol"},
        {"common", addCommonFrame, "specular_direct", "specular_indirect", "specular_albedo"}};
    for (const Scheme& scheme : schemes) {
        for (bool broken : {false, true}) {
            ExrFixture fixture;
            scheme.frame(fixture);
            addPass(fixture, scheme.direct, glossyDirect);
            addPass(fixture, scheme.indirect, glossyIndirect);
            addPass(fixture, scheme.colour, glossyColour);
            if (broken) {
                fixture.channels.back().value = [](int x, int y) {
                    return x == 1 && y == 1 ? INFINITY : 0.5f;
                };
            }
            const std::string path = (folder.path() / (scheme.name + ".exr")).string();
            fixture.write(path);
            const auto loaded = loadExrFrame(path, withCamera());
            ASSERT_TRUE(loaded) << scheme.name;
            const Frame& frame = loaded->frame;
            const cv::Vec3f rest = frame[Rest].at<cv::Vec3f>(4, 3);
            // Working order: the third component first.
            EXPECT_FLOAT_EQ(rest[0], beautyValue(3, 4, 2) -
                                         colourValue(3, 4, 2) *
                                             (primaryValue(3, 4, 2) + secondaryValue(3, 4, 2)))
                << scheme.name;
            if (broken) {
                EXPECT_TRUE(frame.glossyLight.empty() && frame.glossyColor.empty()) << scheme.name;
                continue;
            }
            ASSERT_EQ(frame.glossyLight.size(), frame[Rest].size()) << scheme.name;
            EXPECT_EQ(frame.glossyLight.at<cv::Vec3f>(4, 3)[0],
                      glossyDirect(3, 4, 2) + glossyIndirect(3, 4, 2))
                << scheme.name;
            EXPECT_EQ(frame.glossyColor.at<cv::Vec3f>(4, 3)[2], glossyColour(3, 4, 0))
                << scheme.name;
        }
    }
}

TEST(ExrFrame, CyclesMotionVectorsBecomeOffsetsToTheNeighbouringFramesYDown) {
    TemporaryFolder folder;
    // Cycles' vector pass: X, Y from the previous frame's place, Z, W to the
    // next frame's place, reversed, y up.
    auto vector = [](int x, int y, int k) { return float(k + 1) * 0.25f + 0.01f * float(x - y); };
    for (bool broken : {false, true}) {
        ExrFixture fixture;
        addCyclesFrame(fixture);
        for (int k = 0; k < 4; ++k) {
            fixture.channels.push_back(
                {std::string("ViewLayer.Vector.") + "XYZW"[k], [vector, k, broken](int x, int y) {
                     return broken && x == 2 && k == 3 ? NAN : vector(x, y, k);
                 }});
        }
        const std::string path = (folder.path() / "vector.exr").string();
        fixture.write(path);
        const auto loaded = loadExrFrame(path, withCamera());
        ASSERT_TRUE(loaded);
        if (broken) {
            EXPECT_TRUE(loaded->frame.motion.empty()) << "a broken pass is left unused";
            continue;
        }
        ASSERT_EQ(loaded->frame.motion.size(), loaded->frame[Primary].size());
        const cv::Vec4f m = loaded->frame.motion.at<cv::Vec4f>(4, 3);
        EXPECT_EQ(m,
                  cv::Vec4f(vector(3, 4, 0), -vector(3, 4, 1), -vector(3, 4, 2), vector(3, 4, 3)));
    }
}
