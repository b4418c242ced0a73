// Reading job files: every bad key is refused with a message that names it.
#include "cli/job_file.hpp"

#include <gtest/gtest.h>

#include "cli/cli_fixture.hpp"

namespace kelvarin::cli::testing {
namespace {

const char* const kRefinementJob = R"(
[main]
job = "refinement"
theory = "dynamical"
file = "measured.dat"
integer_angles = true
layers = 16

[data_entry]
hkl = [0, 0, 4]
radiation = "Cua1"
crystal = "GaAs"

[refinement]
model = "2gauss"
tau = [0.003, 0.005, 0.0005]
ro = [50, 800, 10]
sigma1 = [50, 800, 10]
sigma2 = [50, 800, 10]
width = [7, 10, 1]
mutation_probability = 0.5
population = 50
normalisation = "lsm-fixed-background"
background = 30
generations = 100
seed = 12345

[output]
name = "run1"
)";

const char* const kCalculationJob = R"(
[main]
job = "calculation"
file = "profile.dat"
file_type = "thickness-concentration"
max_strain = 0.5

[data_entry]
scan = [-3000, 600, 2]
radiation = "Cua1"
crystal = "InP"
)";

class JobFileTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        write("measured.dat", "0 1\n1 2\n");
        write("profile.dat", "100 1\n");
        write("ions.dat", "1 10 0 0\n");
    }
    JobSpec parse(const std::string& text) const { return parseJob(text, dir / "job.toml"); }
};

TEST_F(JobFileTest, ReadsEveryKeyOfAValidRefinementJob) {
    const JobSpec job = parse(kRefinementJob);
    EXPECT_EQ(job.job, JobKind::Refinement);
    EXPECT_EQ(job.theory, 1);
    EXPECT_EQ(job.file, "measured.dat");
    EXPECT_EQ(job.folder, dir);
    EXPECT_TRUE(job.integerAngles);
    EXPECT_EQ(job.layers, 16);
    EXPECT_EQ(job.hkl, (std::array<int, 3>{0, 0, 4}));
    EXPECT_FALSE(job.scan);
    EXPECT_EQ(job.radiation, 4);
    EXPECT_EQ(job.crystal, "GaAs");
    EXPECT_EQ(job.pearson, false);
    ASSERT_TRUE(job.tau);
    EXPECT_DOUBLE_EQ(job.tau->minimum, 0.003);
    EXPECT_DOUBLE_EQ(job.tau->maxMutation, 0.0005);
    EXPECT_DOUBLE_EQ(job.width->maximum, 10);
    EXPECT_EQ(job.population, 50);
    EXPECT_EQ(job.normalisation, 1);
    EXPECT_EQ(job.generations, 100);
    EXPECT_EQ(job.seed, 12345u);
    EXPECT_EQ(job.outputName, "run1");
}

TEST_F(JobFileTest, OmittedKeysKeepTheWindowDefaultsAndTheNameFollowsTheJobFile) {
    const JobSpec job = parse(kCalculationJob);
    EXPECT_EQ(job.job, JobKind::Calculation);
    EXPECT_EQ(job.theory, 1);
    EXPECT_EQ(job.fileType, ProfileFileType::Concentration);
    EXPECT_EQ(job.maxStrainPercent, 0.5);
    EXPECT_EQ(job.hkl, (std::array<int, 3>{0, 0, 4}));
    EXPECT_EQ(job.scan, (std::array<int, 3>{-3000, 600, 2}));
    EXPECT_FALSE(job.population);
    EXPECT_FALSE(job.seed);
    EXPECT_EQ(job.outputName, "job");
    EXPECT_TRUE(job.svg);
}

TEST_F(JobFileTest, SynchrotronAndIonPositionJobs) {
    std::string text = kCalculationJob;
    text.replace(text.find("file = \"profile.dat\""), 20, "file = \"ions.dat\"");
    text.replace(text.find("thickness-concentration"), 23, "ion-positions");
    text.replace(text.find("radiation = \"Cua1\""), 18,
                 "radiation = \"synchrotron\"\nwavelength = 1.43807");
    text += "[ion_positions]\nmax_depth = 1000\nlayers = 10\n";
    const JobSpec job = parse(text);
    EXPECT_EQ(job.fileType, ProfileFileType::IonPositions);
    EXPECT_EQ(job.ionMaxDepth, 1000.0);
    EXPECT_EQ(job.ionLayers, 10);
    EXPECT_EQ(job.radiation, 6);
    EXPECT_EQ(job.wavelength, 1.43807);
}

struct BadJob {
    const char* name;
    const char* base;     ///< kRefinementJob or kCalculationJob
    const char* find;     ///< text of the base replaced …
    const char* replace;  ///< … by this
    const char* key;      ///< the key the message must name ("" for none)
    const char* says;     ///< and a fragment of what it says
};

class BadJobTest : public JobFileTest, public ::testing::WithParamInterface<BadJob> {
protected:
    void SetUp() override { JobFileTest::SetUp(); }
    void TearDown() override { JobFileTest::TearDown(); }
};

TEST_P(BadJobTest, IsRefusedWithAMessageNamingTheKey) {
    const BadJob& bad = GetParam();
    std::string text = bad.base;
    const std::size_t at = text.find(bad.find);
    ASSERT_NE(at, std::string::npos) << bad.find;
    text.replace(at, std::string(bad.find).size(), bad.replace);
    try {
        parse(text);
        FAIL() << "accepted: " << bad.name;
    } catch (const JobError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("job.toml"), std::string::npos) << message;
        if (*bad.key) {
            EXPECT_NE(message.find(std::string("'") + bad.key + "'"), std::string::npos) << message;
        }
        EXPECT_NE(message.find(bad.says), std::string::npos) << message;
    }
}

const char* const R = kRefinementJob;
const char* const C = kCalculationJob;

INSTANTIATE_TEST_SUITE_P(
    Table, BadJobTest,
    ::testing::Values(
        // Unknown keys and tables.
        BadJob{"UnknownKey", R, "layers = 16", "layer = 16", "main.layer", "unknown"},
        BadJob{"UnknownTable", R, "[output]", "[outputs]", "outputs", "unknown"},
        BadJob{"MisspelledRefinementKey", R, "generations", "generation", "refinement.generation",
               "unknown"},
        // Wrong types.
        BadJob{"PopulationAsText", R, "population = 50", "population = \"50\"",
               "refinement.population", "must be an integer, found a string"},
        BadJob{"FractionalLayers", R, "layers = 16", "layers = 16.5", "main.layers",
               "must be an integer"},
        BadJob{"IndexAsText", R, "hkl = [0, 0, 4]", "hkl = [0, 0, \"4\"]", "data_entry.hkl",
               "must be an integer"},
        BadJob{"TwoIndices", R, "hkl = [0, 0, 4]", "hkl = [0, 4]", "data_entry.hkl", "array of 3"},
        BadJob{"LimitsAsNumber", R, "tau = [0.003, 0.005, 0.0005]", "tau = 0.004", "refinement.tau",
               "array of 3"},
        BadJob{"BooleanAsText", R, "integer_angles = true", "integer_angles = \"yes\"",
               "main.integer_angles", "true or false"},
        BadJob{"TableAsValue", C, "[main]", "output = 3\n[main]", "output", "must be a table"},
        // Files.
        BadJob{"MissingFile", R, "measured.dat", "nowhere.dat", "main.file", "does not exist"},
        BadJob{"FolderAsFile", R, "measured.dat", ".", "main.file", "not a regular file"},
        BadJob{"NulInFileName", R, "measured.dat", "measured.dat\\u0000x", "main.file", "NUL"},
        // Out of range.
        BadJob{"PopulationTooLarge", R, "population = 50", "population = 500",
               "refinement.population", "between 2 and 200"},
        BadJob{"TooManyLayers", R, "layers = 16", "layers = 50", "main.layers", "between 1 and 49"},
        BadJob{"ScanNumberZero", R, "layers = 16", "scan_number = 0", "main.scan_number",
               "between 1"},
        BadJob{"ScanNumberInCalculation", C, "max_strain = 0.5",
               "max_strain = 0.5\nscan_number = 1", "main.scan_number", "only to refinement"},
        BadJob{"ProbabilityAboveOne", R, "mutation_probability = 0.5", "mutation_probability = 1.5",
               "refinement.mutation_probability", "between 0 and 1"},
        BadJob{"NegativeSeed", R, "seed = 12345", "seed = -1", "refinement.seed", "between 0"},
        BadJob{"ZeroWidth", R, "width = [7, 10, 1]", "width = [0, 10, 1]", "refinement.width",
               "above 0"},
        BadJob{"NegativeMutation", R, "ro = [50, 800, 10]", "ro = [50, 800, -10]", "refinement.ro",
               "maximum mutation of 0 or more"},
        BadJob{"ZeroStep", C, "scan = [-3000, 600, 2]", "scan = [-3000, 600, 0]", "data_entry.scan",
               "step above 0"},
        BadJob{"ReversedScan", C, "scan = [-3000, 600, 2]", "scan = [600, -3000, 2]",
               "data_entry.scan", "not below the initial"},
        BadJob{"ScanTooLong", C, "scan = [-3000, 600, 2]", "scan = [-30000, 30000, 1]",
               "data_entry.scan", "at most 40000"},
        BadJob{"NoReflection", R, "hkl = [0, 0, 4]", "hkl = [0, 0, 0]", "data_entry.hkl",
               "no reflection"},
        BadJob{"ZeroMaximumStrain", C, "max_strain = 0.5", "max_strain = 0", "main.max_strain",
               "above 0"},
        // Choices.
        BadJob{"UnknownJob", R, "job = \"refinement\"", "job = \"fit\"", "main.job",
               "must be one of"},
        BadJob{"UnknownTheory", R, "theory = \"dynamical\"", "theory = \"dynamic\"", "main.theory",
               "\"kinematical\""},
        BadJob{"UnknownRadiation", R, "radiation = \"Cua1\"", "radiation = \"Cub1\"",
               "data_entry.radiation", "Moa1"},
        BadJob{"UnknownCrystal", R, "crystal = \"GaAs\"", "crystal = \"GaAsN\"",
               "data_entry.crystal", "catalogue crystal"},
        BadJob{"UnknownModel", R, "model = \"2gauss\"", "model = \"lorentz\"", "refinement.model",
               "\"pearson\""},
        BadJob{"UnknownNormalisation", R, "lsm-fixed-background", "lsm", "refinement.normalisation",
               "match-top"},
        // Keys that do not belong to the job.
        BadJob{"FileTypeInRefinement", R, "layers = 16", "file_type = \"thickness-strain\"",
               "main.file_type", "only to calculation jobs"},
        BadJob{"LayersInCalculation", C, "max_strain = 0.5", "max_strain = 0.5\nlayers = 3",
               "main.layers", "only to refinement jobs"},
        BadJob{"MaximumStrainForStrainFile", C, "thickness-concentration", "thickness-strain",
               "main.max_strain", "carries its own strains"},
        BadJob{"PopulationInCalculation", C, "crystal = \"InP\"",
               "crystal = \"InP\"\n[refinement]\npopulation = 20", "refinement.population",
               "only to refinement jobs"},
        BadJob{"WavelengthForTubeLine", R, "radiation = \"Cua1\"",
               "radiation = \"Cua1\"\nwavelength = 1.5", "data_entry.wavelength",
               "only to radiation = \"Synchrotron\""},
        BadJob{"IonTableForProfile", C, "crystal = \"InP\"",
               "crystal = \"InP\"\n[ion_positions]\nmax_depth = 10\nlayers = 2", "",
               "[ion_positions] applies only"},
        // Missing keys.
        BadJob{"NoJob", R, "job = \"refinement\"", "", "main.job", "missing"},
        BadJob{"NoFileType", C, "file_type = \"thickness-concentration\"", "", "main.file_type",
               "missing"},
        BadJob{"NoMaximumStrain", C, "max_strain = 0.5", "", "main.max_strain", "missing"},
        BadJob{"NoScanForCalculation", C, "scan = [-3000, 600, 2]", "", "data_entry.scan",
               "missing"},
        BadJob{"NoWavelengthForSynchrotron", R, "radiation = \"Cua1\"",
               "radiation = \"Synchrotron\"", "data_entry.wavelength", "missing"},
        BadJob{"NoIonTable", C, "thickness-concentration", "ion-positions", "",
               "[ion_positions] (max_depth, layers) is missing"},
        // Output name and syntax.
        BadJob{"NameWithFolder", R, "name = \"run1\"", "name = \"../run1\"", "output.name",
               "plain file name"},
        BadJob{"NotToml", R, "[output]", "[output", "", "not a valid TOML file"}),
    [](const ::testing::TestParamInfo<BadJob>& info) { return std::string(info.param.name); });

TEST_F(JobFileTest, ReadingAMissingJobFileSaysSo) {
    try {
        readJobFile(dir / "none.toml");
        FAIL();
    } catch (const JobError& e) {
        EXPECT_NE(std::string(e.what()).find("no such job file"), std::string::npos);
    }
}

TEST(FieldText, WritesTheShortestTextThatReadsBack) {
    EXPECT_EQ(fieldText(0.003), "0.003");
    EXPECT_EQ(fieldText(50), "50");
    EXPECT_EQ(fieldText(1.43807), "1.43807");
}

}  // namespace
}  // namespace kelvarin::cli::testing
