// efis-cli's command-line parser on inputs that fuzzing turned up.
#include <gtest/gtest.h>

#include "cli/cli_options.h"

namespace {

struct OnlyCase {
    const char* name;
    QStringList only_args;  // the values given to --only
    bool ok;
    QStringList only;  // the names taken, when ok
};

class CliOnlyTest : public ::testing::TestWithParam<OnlyCase> {};

TEST_P(CliOnlyTest, BlankNamesAreSkippedLikeEmptyOnes) {
    const OnlyCase& c = GetParam();
    QStringList args = {"settings", "import", "backup.json"};
    for (const QString& value : c.only_args) {
        args << "--only" << value;
    }
    const CliParse parse = parse_cli(args);
    ASSERT_EQ(parse.ok, c.ok) << parse.error.toStdString();
    if (c.ok) {
        EXPECT_EQ(parse.options.only, c.only);
    } else {
        EXPECT_EQ(parse.error, "--only needs at least one setting name");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Only, CliOnlyTest,
    ::testing::Values(
        OnlyCase{"Plain", {"vne,registration"}, true, {"vne", "registration"}},
        OnlyCase{"SpacesAroundNames", {" vne , vs0 "}, true, {"vne", "vs0"}},
        OnlyCase{"BlankBetweenCommas", {"vne, ,registration"}, true, {"vne", "registration"}},
        OnlyCase{"TwoOptions", {"vne,", " ,vs0"}, true, {"vne", "vs0"}},
        OnlyCase{"OnlyBlanks", {" , ,\t"}, false, {}}, OnlyCase{"OneSpace", {" "}, false, {}},
        OnlyCase{"Empty", {""}, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
