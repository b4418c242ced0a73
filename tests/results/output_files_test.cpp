// Result files: exact formats, safe replacement, and the "Save output files" and "OK" buttons.
#include "results/output_files.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

#include "app/formmain.hpp"
#include "refine/refine_state.hpp"
#include "results/results_fixture.hpp"

namespace kelvarin::testing {
namespace {

TEST(ResultFiles, FixedSixDecimalForm) {
    EXPECT_EQ(fixedText(0), "0.000000");
    EXPECT_EQ(fixedText(-0.0000004), "-0.000000");
    EXPECT_EQ(fixedText(0.125), "0.125000");
    EXPECT_EQ(fixedText(-3.5), "-3.500000");
    EXPECT_EQ(fixedText(2.0000015), "2.000002");
    EXPECT_EQ(fixedText(1e20), "100000000000000000000.000000");
}

TEST(ResultFiles, ThreeFormatsByteForByte) {
    const std::vector<Extended> angle{-1.5L, 0, 2};
    const std::vector<Extended> meas{120, 3456.25L, 7};
    const std::vector<Extended> curve{118.0000004L, 3400.1234567L, 0.5L};
    EXPECT_EQ(fitFileText(angle, meas, curve, 3),
              "-1.500000 120.000000 118.000000\n"
              "0.000000 3456.250000 3400.123457\n"
              "2.000000 7.000000 0.500000\n");
    EXPECT_EQ(fitFileText(angle, meas, curve, 0), "");

    const CandidateRow row{8.5f, 0.0041769f, 496.09f, 830.8f, 646.39f, 12.25f};
    EXPECT_EQ(outFileText(row),
              "====================================\n"
              "==   OUTPUT FILE FROM KELVARIN    ==\n"
              "====================================\n"
              "Parameters for the ion distribution curve:\n"
              "FWHM: 8.500000\n"
              "Tau: 0.004177\n"
              "Ro: 496.089996\n"  // single precision widened, then printed
              "Sigma1: 830.799988\n"
              "Sigma2: 646.390015\n"
              "Logarithmic error: 12.250000\n");

    ProfileArray thickness{};
    ProfileArray strain{};
    thickness[1] = thickness[2] = 100;
    strain[1] = 0.001L;  // deepest
    strain[2] = 0.003L;  // surface
    EXPECT_EQ(ionFileText(thickness, strain, 2),
              "0.000000 0.003000\n100.000000 0.003000\n"
              "100.000000 0.001000\n200.000000 0.001000\n");
    // The depth is a single-precision sum: 2^24 + 1 Å is not a single-precision number.
    ProfileArray thick{};
    thick[1] = 16777217;
    EXPECT_EQ(ionFileText(thick, strain, 1), "0.000000 0.001000\n16777216.000000 0.001000\n");
}

TEST(ResultFiles, ReplacementIsAllOrNothing) {
    ScratchDir dir;
    const std::string path = dir.file("run1.fit");
    writeResultFile(path, "old\n");
    writeResultFile(path, "new\n");
    EXPECT_EQ(ScratchDir::read(path), "new\n");

    // The temporary's name cannot be taken in advance (a folder at the predictable name once
    // made every save fail); a target that is a folder fails with the older files whole.
    std::filesystem::create_directory(path + ".tmp" + std::to_string(::getpid()));
    writeResultFile(path, "newer\n");
    EXPECT_EQ(ScratchDir::read(path), "newer\n");
    try {
        writeResultFiles(
            {{path, "newest\n"}, {dir.file("run1.ion"), "x"}, {dir.path().string(), "y"}});
        ADD_FAILURE() << "written";
    } catch (const ResultFileError& e) {
        EXPECT_EQ(e.path(), dir.path().string());
        EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos);
    }
    EXPECT_EQ(ScratchDir::read(path), "newer\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("run1.ion")));

    EXPECT_THROW(writeResultFile(dir.file("missing/run1.out"), "x"), ResultFileError);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

class SaveTest : public CalcTest {};

TEST_P(SaveTest, SaveWritesTheThreeFilesAndSaysWhichOneFailed) {
    ScratchDir dir;
    main().RadioGroup1.itemIndex = 1;
    calc().setShownCurve(Tformcalc::ShownCurve::Refinement);
    CurveStore& cs = store();
    cs.calcCount = 2;
    cs.measAngle[0] = 10;
    cs.measAngle[1] = 11;
    cs.measIntensity[0] = 100;
    cs.measIntensity[1] = 200;
    cs.calcCurve[0] = 99.5L;
    cs.calcCurve[1] = 201.25L;
    app->engine().layerCount = 1;
    app->engine().profileThickness[1] = 50;
    app->engine().profileStrain[1] = 0.002L;
    app->refine().population[0] = {7.5f, 0.004f, 400, 300, 200, 3.5f};
    std::string images;
    calc().savePlotImage = [&](const std::string& path) {
        images += path;
        return std::string();
    };

    calc().nomearquivo.text = dir.file("run1");
    ASSERT_TRUE(app->dispatch([&] { calc().Button4Click(); }));
    EXPECT_EQ(ScratchDir::read(dir.file("run1.fit")),
              "10.000000 100.000000 99.500000\n11.000000 200.000000 201.250000\n");
    EXPECT_EQ(ScratchDir::read(dir.file("run1.ion")), "0.000000 0.002000\n50.000000 0.002000\n");
    EXPECT_NE(ScratchDir::read(dir.file("run1.out")).find("FWHM: 7.500000\nTau: 0.004000\n"),
              std::string::npos);
    EXPECT_EQ(images, dir.file("run1.png"));
    EXPECT_TRUE(platform.allMessages().empty());

    // A folder that does not exist: the message names the curves file, nothing is written.
    calc().nomearquivo.text = dir.file("nowhere/run2");
    app->dispatch([&] { calc().Button4Click(); });
    ASSERT_EQ(platform.modalMessages.size(), 1u);
    EXPECT_NE(platform.modalMessages[0].find("run2.fit"), std::string::npos);
    EXPECT_EQ(images, dir.file("run1.png"));

    // An empty name would hide the files as ".fit", ".out" and ".ion".
    calc().nomearquivo.text = "";
    app->dispatch([&] { calc().Button4Click(); });
    ASSERT_EQ(platform.modalMessages.size(), 2u);
    EXPECT_NE(platform.modalMessages[1].find("name"), std::string::npos);

    // A failing image is reported after the text files are safe.
    calc().savePlotImage = [](const std::string&) { return std::string("no display"); };
    calc().nomearquivo.text = dir.file("run3");
    app->dispatch([&] { calc().Button4Click(); });
    EXPECT_TRUE(std::filesystem::exists(dir.file("run3.ion")));
    ASSERT_EQ(platform.modalMessages.size(), 3u);
    EXPECT_NE(platform.modalMessages[2].find("run3.png"), std::string::npos);
}

TEST_P(SaveTest, ReadOnlyFolderIsReported) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser writes into read-only folders";
    ScratchDir dir;
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    calc().nomearquivo.text = dir.file("run1");
    app->dispatch([&] { calc().Button4Click(); });
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    ASSERT_EQ(platform.modalMessages.size(), 1u);
    EXPECT_NE(platform.modalMessages[0].find("run1.fit"), std::string::npos);
}

TEST_P(SaveTest, OkResetsTheWindowsForTheNextJob) {
    Tformdata& d = data();
    setScan("0", "0", "4", "-10", "10", "1");
    d.Label1.caption = "GaAs";
    for (Label* l : {&d.Label1, &d.Label2, &d.Label3, &d.Label4})
        l->visible = true;
    d.butOK.enabled = d.butUndo.enabled = d.tipo.enabled = d.Button1.enabled = true;
    d.buttarget.enabled = false;
    d.show();
    calc().show();
    calc().Button2.enabled = false;
    calc().Button1.enabled = true;
    calc().Panel1.visible = calc().Button4.visible = calc().Button5.visible = true;
    calc().ProgressBar1.position = 40;

    calc().Button5Click();
    EXPECT_TRUE(calc().Button2.enabled);
    EXPECT_FALSE(calc().Button1.enabled);
    EXPECT_EQ(d.Label1.caption, "0");
    EXPECT_FALSE(calc().Panel1.visible || calc().Button4.visible || calc().Button5.visible);
    EXPECT_EQ(calc().ProgressBar1.position, 0);
    EXPECT_EQ(main().file.text, "");
    for (const Edit* e : {&d.h, &d.k, &d.l, &d.thetai, &d.thetaf, &d.step})
        EXPECT_EQ(e->text, "");
    EXPECT_TRUE(d.buttarget.enabled);
    EXPECT_FALSE(d.tipo.enabled || d.Button1.enabled || d.butOK.enabled || d.butUndo.enabled);
    EXPECT_FALSE(d.Label1.visible || d.Label2.visible || d.Label3.visible || d.Label4.visible);
    EXPECT_FALSE(calc().visible);
    EXPECT_FALSE(d.visible);
    EXPECT_TRUE(main().visible);
}

KELVARIN_BOTH_SEPARATORS(SaveTest);

}  // namespace
}  // namespace kelvarin::testing
