// Application archives, unpacked and decompressed with the build machine's own tar and xz as the
// board's tar and lzma would.
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

#include "tests/support/imgtool_support.h"

namespace {

// Standard output of a command line run through the build machine's shell.
std::string output_of(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (size_t n; pipe != nullptr && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, n);
    if (pipe != nullptr)
        pclose(pipe);
    return out;
}

struct AppCase {
    const char* name;
    std::vector<std::string> options;
    std::string listing;
    std::optional<std::string> marker;
};

const AppCase kAppCases[] = {
    {"NamedMarker",
     {"--name", "release 7"},
     "home/\nhome/bin/\nhome/bin/distro-id\nhome/bin/mp.elf.strip.lzma\n",
     "release 7\n"},
    {"EmptyMarker", {}, "home/\nhome/bin/\nhome/bin/distro-id\nhome/bin/mp.elf.strip.lzma\n", ""},
    {"NoMarker", {"--no-marker"}, "home/\nhome/bin/\nhome/bin/mp.elf.strip.lzma\n", std::nullopt},
};

void PrintTo(const AppCase& c, std::ostream* os) { *os << c.name; }

class App : public testing::TestWithParam<AppCase> {};

TEST_P(App, ArchivesTheLzmaBinaryAndTheMarker)
{
    const AppCase& c = GetParam();
    TempDir dir;
    std::string binary = "\x7f"
                         "ELF";
    for (int i = 0; i < 5000; ++i)
        binary += std::to_string(i * i);
    std::vector<std::string> args = {"app", dir.write("mp.elf", binary), "-o", dir.path("app.tar.gz")};
    args.insert(args.end(), c.options.begin(), c.options.end());

    const ToolRun r = imgtool(args);

    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(output_of("tar -tzf " + dir.path("app.tar.gz")), c.listing);
    ASSERT_EQ(std::system(("tar -xzf " + dir.path("app.tar.gz") + " -C " + dir.path("")).c_str()), 0);
    EXPECT_EQ(output_of("xz --format=lzma -dc " + dir.path("home/bin/mp.elf.strip.lzma")), binary);
    ASSERT_EQ(dir.exists("home/bin/distro-id"), c.marker.has_value());
    if (c.marker) {
        EXPECT_EQ(dir.read("home/bin/distro-id"), *c.marker);
    }
}

INSTANTIATE_TEST_SUITE_P(Markers, App, testing::ValuesIn(kAppCases),
                         [](const auto& info) { return info.param.name; });

TEST(App, ReportsATarThatFailed)
{
    TempDir dir;
    const ToolRun r = imgtool({"app", dir.write("mp.elf", "binary"), "-o", dir.path("missing/app.tar.gz")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "imgtool app: tar failed\n");
}

}  // namespace
