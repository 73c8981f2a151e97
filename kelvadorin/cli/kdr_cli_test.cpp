// End-to-end tests of the kdr executable: the wiring of arguments, output,
// exit statuses and files on disk. Behaviour is tested beside the libraries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "kelvadorin/testing/archive_builder.hpp"
#include "kelvadorin/testing/run_command.hpp"
#include "kelvadorin/testing/temp_dir.hpp"

namespace kdr {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::read_file;
using testing::write_file;

class KdrCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "portal");
    std::filesystem::create_directories(dir_ / "cell");
    write_file(dir_ / "portal" / "0A000001.bin", std::string(3000, 'a'));
    write_file(dir_ / "portal" / "01000001.bin", "model");
    write_file(dir_ / "portal" / "0e00000e.dat", "spells");  // lower-case hex is fine
    write_file(dir_ / "portal" / "readme.txt", "not a record");
    write_file(dir_ / "cell" / "A9B4FFFE.bin", "info");
    write_file(dir_ / "cell" / "A9B4FFFF.bin", "land");
    write_file(dir_ / "cell" / "A9B40100.bin", "envcell");
  }

  testing::CommandResult kdr(const std::string& args) {
    return testing::run_command(std::string(KDR_BINARY) + " " + args, dir_.path());
  }
  std::string path(std::string_view name) const { return (dir_ / name).string(); }
  std::string convert_sample(std::string_view out = "out.kdr") {
    auto r = kdr("convert --portal " + path("portal") + " --cell " + path("cell") + " -o " + path(out));
    EXPECT_EQ(r.status, 0) << r.err;
    return path(out);
  }

  testing::TempDir dir_;
};

TEST_F(KdrCliTest, ConvertThenListCatVerifyAndExtractRoundTrip) {
  auto r = kdr("convert --portal " + path("portal") + " --cell " + path("cell") + " -o " + path("out.kdr"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("skipped 1 files"));
  std::string archive = path("out.kdr");

  auto ls = kdr("ls " + archive);
  ASSERT_EQ(ls.status, 0) << ls.err;
  EXPECT_THAT(ls.out, HasSubstr("vuz/cell         0xA9B40100 0x000000FD"));
  EXPECT_THAT(ls.out, HasSubstr("vuz/cell         0xA9B4FFFE 0x000000FE"));
  EXPECT_THAT(ls.out, HasSubstr("vuz/portal       0x0A000001 0x0000000A       3000"));
  EXPECT_LT(ls.out.find("vuz/cell"), ls.out.find("vuz/portal"));

  auto json = nlohmann::json::parse(kdr("ls --json --namespace vuz/portal " + archive).out);
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[0]["file_id"], "0x01000001");
  EXPECT_EQ(json[1]["storage"], "zstd");
  EXPECT_EQ(json[2]["storage"], "raw");

  EXPECT_EQ(kdr("cat " + archive + " vuz/portal 0x0A000001").out, std::string(3000, 'a'));
  EXPECT_EQ(kdr("cat " + archive + " vuz/portal e00000e").out, "spells");

  auto verify = kdr("verify " + archive);
  EXPECT_EQ(verify.status, 0) << verify.err;
  // Six records plus the motion kinematics asset every conversion adds.
  EXPECT_THAT(verify.out, HasSubstr("OK, 7 entries in 3 namespaces"));

  auto info = kdr("info " + archive);
  EXPECT_EQ(info.status, 0);
  EXPECT_THAT(info.out, HasSubstr("entries        7"));

  auto extract = kdr("extract " + archive + " " + path("x"));
  ASSERT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(read_file(dir_ / "x" / "vuz" / "portal" / "0E00000E.bin"), "spells");
  EXPECT_EQ(read_file(dir_ / "x" / "vuz" / "cell" / "A9B40100.bin"), "envcell");
}

TEST_F(KdrCliTest, SameInputsGiveTheSameBytes) {
  EXPECT_EQ(read_file(convert_sample("a.kdr")), read_file(convert_sample("b.kdr")));
}

TEST_F(KdrCliTest, ErrorsUseTheLibraryTextAndExitStatuses) {
  std::string archive = convert_sample();
  struct Case {
    std::string args;
    int status;
    std::string err;
  } cases[] = {
      {"cat " + archive + " vuz/portal 0x0B000001", 1, "kdr: error: File ID 0B000001 not found in provider\n"},
      {"cat " + archive + " vuz/portal not-hex", 1,
       "kdr: error: invalid hex u32 \"not-hex\": invalid digit found in string\n"},
      {"cat " + archive + " '' 1", 1, "kdr: error: Invalid namespace: namespace label cannot be empty\n"},
      {"info " + path("missing.kdr"), 1, "kdr: error: Failed to open file at " + path("missing.kdr")},
      {"info " + path("portal/01000001.bin"), 1, "kdr: error: IO error: failed to fill whole buffer\n"},
      {"convert " + path("portal") + " --namespace '' -o " + path("n.kdr"), 1,
       "kdr: error: Invalid namespace: namespace label cannot be empty\n"},
      {"ls", 2, ""},
      {"frobnicate", 2, ""},
  };
  for (const auto& c : cases) {
    auto r = kdr(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_THAT(r.err, StartsWith(c.err)) << c.args;
  }
  EXPECT_EQ(kdr("--version").status, 0);
  EXPECT_THAT(kdr("convert --help").out, HasSubstr("--no-compress"));
}

TEST_F(KdrCliTest, FailedConvertLeavesOutputUntouchedAndNoTemporaryFile) {
  write_file(dir_ / "out.kdr", "precious");
  // Two files naming one id in one namespace: the writer's duplicate error.
  write_file(dir_ / "portal" / "01000001.dat", "again");
  auto r = kdr("convert --portal " + path("portal") + " -o " + path("out.kdr"));
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("Duplicate namespaced file vuz/portal:01000001 detected"));
  EXPECT_EQ(read_file(dir_ / "out.kdr"), "precious");
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_THAT(e.path().filename().string(), ::testing::Not(HasSubstr(".tmp-")));
}

TEST_F(KdrCliTest, ExtractRefusesUnsafeLabels) {
  for (std::string label : {"../escape", "/abs", "a//b", "a\\b", "./x"}) {
    Bytes archive = testing::build_archive({{label, 1, 0, to_bytes("x")}});
    write_file(dir_ / "evil.kdr", as_chars(archive));
    auto r = kdr("extract " + path("evil.kdr") + " " + path("dest"));
    EXPECT_EQ(r.status, 1) << label;
    EXPECT_THAT(r.err, HasSubstr("not a safe relative folder name")) << label;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "escape"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "dest" / "x"));
}

TEST_F(KdrCliTest, VerifyReportsCorruptPayloads) {
  std::string archive = convert_sample();
  std::string bytes = read_file(archive);
  // Raw payloads carry no checksum; break the one zstd frame's magic number.
  size_t frame = bytes.find("\x28\xB5\x2F\xFD");
  ASSERT_NE(frame, std::string::npos);
  bytes[frame] = 0;
  write_file(archive, bytes);
  auto r = kdr("verify " + archive);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("(vuz/portal:0x0A000001): Failed to recover compressed file 0A000001"));
}

}  // namespace
}  // namespace kdr
