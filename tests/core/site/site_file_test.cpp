#include "core/site/site_test_folder.h"
#include "site/site_file.h"
#include "site/site_json.h"
#include "support/file_size_limit.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mc {
namespace {

using test::readBytes;
using test::TestFolder;
using test::writeBytes;

Site sampleSite() {
    Site site;
    EXPECT_TRUE(site.setName("Lecture Hall 2").ok());
    EXPECT_TRUE(site.updateNames({{{1, "Document camera"}, {5, "Lectern PC"}, {10, "Blu-ray"}},
                                  {{3, "Projector"}, {12, "Stage \xE2\x80\x9Cleft\xE2\x80\x9D"}}})
                    .ok());
    EXPECT_TRUE(site.savePreset(Preset{"Lecture", {{3, 5, AudioState::On}, {4, 5, std::nullopt}}}).ok());
    EXPECT_TRUE(site.savePreset(Preset{"Break", {{3, 1, AudioState::Mute}}}).ok());
    EXPECT_TRUE(site.setLocked(12, true).ok());
    EXPECT_TRUE(site.setLocked(3, true).ok());
    return site;
}

TEST(SiteFileParse, theWrittenTextReadsBackAsTheSameSite) {
    const Site site = sampleSite();
    const std::string text = siteToText(site);
    const SiteLoad load = parseSiteText(text, "site.json");
    ASSERT_TRUE(load.ok()) << load.error->message();
    EXPECT_EQ(load.site, site);
    EXPECT_EQ(siteToText(load.site), text);
    // Ports in numeric order, the version first: a file that reads well.
    EXPECT_EQ(text.find("{\n  \"version\": 1,\n  \"name\": \"Lecture Hall 2\",\n  \"inputs\": {\n    \"1\""), 0U)
        << text;
    EXPECT_LT(text.find("\"5\": \"Lectern PC\""), text.find("\"10\": \"Blu-ray\""));
}

TEST(SiteFileParse, onlyTheVersionIsRequired) {
    const SiteLoad load = parseSiteText("{\"version\": 1}", "site.json");
    ASSERT_TRUE(load.ok()) << load.error->message();
    EXPECT_EQ(load.site, Site{});
}

struct BrokenFile {
    const char* text;
    int line;
    int column;
    const char* what;
};

TEST(SiteFileParse, aBrokenFileIsReportedAtTheLineAndColumnOfTheFault) {
    const BrokenFile cases[] = {
        // Syntax, from the parser's position.
        {"{\n  \"version\": 1,\n  \"inputs\": {\"5\": \"A\",}\n}", 3, 23, "syntax error"},
        {"", 1, 1, "unexpected end of input"},
        {"{\"version\": 1, \"name\": \"\xFF\"}", 1, 25, "invalid string"},
        // The document's shape.
        {"[1, 2]", 1, 1, "expected an object"},
        {"{\n  \"name\": \"Room\"\n}", 1, 1, R"("version" field is missing)"},
        {"{\n  \"version\": 2,\n  \"future\": true\n}", 2, 14, "unknown version 2 (this program reads version 1)"},
        {R"({"version": "1"})", 1, 13, "expected a whole number, found a string"},
        {R"({"version": 1, "lockd": [3]})", 1, 16, R"(unknown field "lockd")"},
        {"{\"version\": 1,\n \"version\": 1}", 2, 2, R"(duplicate key "version")"},
        // Names.
        {R"({"version": 1, "inputs": {"5": 7}})", 1, 32, "expected a name, found a number"},
        {"{\"version\": 1,\n \"inputs\": {\"1\": \"A\", \"17\": \"B\"}}", 2, 23, R"("17" is not an input number)"},
        {R"({"version": 1, "outputs": {"05": "B"}})", 1, 28, R"("05" is not an output number)"},
        {"{\"version\": 1,\n \"inputs\": {\"1\": \"PC\",\n  \"2\": \"pc\"}}", 3, 8, "share the name"},
        {R"({"version": 1, "inputs": {"1": "Bell\u0007"}})", 1, 32, "control character"},
        // Characters, not bytes, count for the column.
        {"{\"version\": 1, \"name\": \"Gr\xC3\xBC\xC3\x9F\", \"inputs\": {\"1\": \"\"}}", 1, 48, "empty"},
        // Presets.
        {"{\"version\": 1, \"presets\": [\n"
         "  {\"name\": \"A\", \"routes\": [{\"output\": 1, \"input\": 2}]},\n"
         "  {\"name\": \"B\", \"routes\": [{\"output\": 3, \"input\": 2},\n"
         R"(                           {"output": 17, "input": 1}]}]})",
         4, 39, "output 17 is out of range (1 to 16)"},
        {"{\"version\": 1, \"presets\": [\n"
         "  {\"name\": \"Lecture\", \"routes\": [{\"output\": 1, \"input\": 2}]},\n"
         R"(  {"name": "lecture", "routes": [{"output": 1, "input": 3}]}]})",
         3, 12, R"(duplicate preset "lecture")"},
        {R"({"version": 1, "presets": [{"name": "A", "routes": []}]})", 1, 52, "at least one route"},
        {R"({"version": 1, "presets": [{"name": "A", "routes": [{"output": 2, "input": 1},)"
         R"( {"output": 2, "input": 3}]}]})",
         1, 91, "output 2 has two routes"},
        {R"({"version": 1, "presets": [{"name": "A", "routes": [{"output": 2, "input": 1.5}]}]})", 1, 76,
         "expected a whole number, found a fraction"},
        {R"({"version": 1, "presets": [{"name": "A", "routes": [{"output": 2, "input": 1, "audio": )"
         R"("off"}]}]})",
         1, 88, R"(audio is "on" or "mute")"},
        {R"({"version": 1, "presets": [{"routes": [{"output": 2, "input": 1}]}]})", 1, 28,
         R"(needs a "name" and "routes")"},
        // Locks.
        {R"({"version": 1, "locked": "3"})", 1, 26, "expected an array of output numbers, found a string"},
        {R"({"version": 1, "locked": [3, 4, 3]})", 1, 33, "output 3 is listed twice"},
        {R"({"version": 1, "locked": [0]})", 1, 27, "output 0 is out of range"},
        {R"({"version": 1, "locked": [99999999999]})", 1, 27, "too large"},
    };
    for (const BrokenFile& c : cases) {
        const SiteLoad load = parseSiteText(c.text, "/etc/room/site.json");
        ASSERT_FALSE(load.ok()) << c.text;
        const SiteFileError& error = *load.error;
        EXPECT_EQ(error.file, "/etc/room/site.json");
        EXPECT_EQ(error.line, c.line) << c.text << "\n" << error.message();
        EXPECT_EQ(error.column, c.column) << c.text << "\n" << error.message();
        EXPECT_NE(error.what.find(c.what), std::string::npos) << error.message();
        EXPECT_EQ(error.message().rfind(
                      "/etc/room/site.json:" + std::to_string(c.line) + ":" + std::to_string(c.column) + ": ", 0),
                  0U)
            << error.message();
        EXPECT_EQ(load.site, Site{});
    }
}

TEST(SiteFileParse, deepNestingIsRefusedWithoutExhaustingTheStack) {
    const std::string deep = R"({"version": 1, "x": )" + std::string(200000, '[') + std::string(200000, ']') + "}";
    const SiteLoad load = parseSiteText(deep, "site.json");
    ASSERT_FALSE(load.ok());
    EXPECT_NE(load.error->what.find("nested more than"), std::string::npos) << load.error->message();
    EXPECT_EQ(load.error->line, 1);
}

TEST(SiteFileLoad, aMissingFileIsAnEmptySite) {
    TestFolder folder("site-load");
    const SiteLoad load = loadSiteFile(folder / "nothing" / "site.json");
    ASSERT_TRUE(load.ok());
    EXPECT_FALSE(load.existed);
    EXPECT_EQ(load.site, Site{});
}

#ifndef _WIN32
TEST(SiteFileLoad, aFileThatCannotBeReadIsAnErrorWithTheReason) {
    TestFolder folder("site-load");
    std::filesystem::create_directory(folder / "site.json");
    SiteLoad load = loadSiteFile(folder / "site.json");
    ASSERT_FALSE(load.ok());
    EXPECT_TRUE(load.existed);
    EXPECT_EQ(load.error->message(), (folder / "site.json").string() + ": cannot read the site file: " +
                                         std::make_error_code(std::errc::is_a_directory).message());

    writeBytes(folder / "big.json", R"({"version": 1, "name": ")" + std::string(kMaxSiteFileBytes, 'x') + R"("})");
    load = loadSiteFile(folder / "big.json");
    ASSERT_FALSE(load.ok());
    EXPECT_NE(load.error->what.find("larger than 1048576 bytes"), std::string::npos) << load.error->message();

    ASSERT_EQ(::mkfifo((folder / "fifo.json").c_str(), 0600), 0);
    load = loadSiteFile(folder / "fifo.json"); // must not wait for a writer
    ASSERT_FALSE(load.ok());
    EXPECT_NE(load.error->what.find("not a regular file"), std::string::npos) << load.error->message();
}
#endif

TEST(SiteFileLoad, aBrokenFileIsReportedWithItsPathAndLeftAsItIs) {
    TestFolder folder("site-load");
    const std::string broken = "{\"version\": 1,\n \"inputs\": {\"3\": \"A\"\n";
    writeBytes(folder / "site.json", broken);
    const SiteLoad load = loadSiteFile(folder / "site.json");
    ASSERT_FALSE(load.ok());
    EXPECT_EQ(load.error->message().rfind((folder / "site.json").string() + ":3:1: syntax error", 0), 0U)
        << load.error->message();
    EXPECT_EQ(readBytes(folder / "site.json"), broken);
}

TEST(SiteFileSave, aSaveKeepsThePreviousVersionAsBak) {
    TestFolder folder("site-save");
    const auto file = folder / "state" / "site.json"; // the folder is made on the first save
    Site site = sampleSite();
    ASSERT_EQ(saveSiteFile(file, site), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(siteBackupPath(file)));
    const std::string first = readBytes(file);
    EXPECT_EQ(first, siteToText(site));

    ASSERT_TRUE(site.deletePreset("Break").ok());
    ASSERT_EQ(saveSiteFile(file, site), std::nullopt);
    EXPECT_EQ(readBytes(siteBackupPath(file)), first);
    const SiteLoad load = loadSiteFile(file);
    ASSERT_TRUE(load.ok());
    EXPECT_EQ(load.site, site);

    ASSERT_TRUE(site.setLocked(1, true).ok());
    const std::string second = readBytes(file);
    ASSERT_EQ(saveSiteFile(file, site), std::nullopt);
    EXPECT_EQ(readBytes(siteBackupPath(file)), second);
    // Nothing else is left in the folder: no temporary files.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 2U);
    EXPECT_EQ(siteBackupPath("/var/lib/matrix-hub/site.json"), "/var/lib/matrix-hub/site.json.bak");
}

#ifndef _WIN32
TEST(SiteFileSave, aSymbolicLinkOrAFolderIsNeverReplaced) {
    TestFolder folder("site-save");
    writeBytes(folder / "elsewhere.json", "precious");
    std::filesystem::create_symlink(folder / "elsewhere.json", folder / "site.json");
    std::optional<std::string> failed = saveSiteFile(folder / "site.json", sampleSite());
    ASSERT_TRUE(failed);
    EXPECT_NE(failed->find("cannot save " + (folder / "site.json").string() + ": it is a symbolic link"),
              std::string::npos)
        << *failed;
    EXPECT_EQ(readBytes(folder / "elsewhere.json"), "precious");
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "site.json"));

    std::filesystem::create_directory(folder / "dir.json");
    failed = saveSiteFile(folder / "dir.json", sampleSite());
    ASSERT_TRUE(failed);
    EXPECT_NE(failed->find(std::make_error_code(std::errc::is_a_directory).message()), std::string::npos) << *failed;
    EXPECT_TRUE(std::filesystem::is_empty(folder / "dir.json"));
}

TEST(SiteFileSave, aFailedWriteLeavesTheFileAndItsBackupAsTheyWere) {
    TestFolder folder("site-save");
    const auto file = folder / "site.json";
    Site site;
    ASSERT_EQ(saveSiteFile(file, site), std::nullopt);
    ASSERT_TRUE(site.setName("Small").ok());
    ASSERT_EQ(saveSiteFile(file, site), std::nullopt);
    const std::string current = readBytes(file);
    const std::string backup = readBytes(siteBackupPath(file));

    Site large = sampleSite();
    ASSERT_TRUE(large.setName(std::string(40, 'L')).ok());
    std::optional<std::string> failed;
    {
        // A disk that fills up part-way through the write.
        test::FileSizeLimit limit(current.size() + 8);
        failed = saveSiteFile(file, large);
    }
    ASSERT_TRUE(failed);
    EXPECT_NE(failed->find(std::make_error_code(std::errc::file_too_large).message()), std::string::npos) << *failed;
    EXPECT_EQ(readBytes(file), current);
    EXPECT_EQ(readBytes(siteBackupPath(file)), backup);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 2U); // the temporary file was removed
}

TEST(SiteFileSave, theNewVersionKeepsTheFilePermissions) {
    TestFolder folder("site-save");
    const auto file = folder / "site.json";
    ASSERT_EQ(saveSiteFile(file, Site{}), std::nullopt);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(saveSiteFile(file, sampleSite()), std::nullopt);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
}
#endif

TEST(SiteFileDocs, theDocumentedExampleIsAValidSite) {
    const std::string page = readBytes(std::filesystem::path(MC_TEST_DATA_DIR) / ".." / ".." / "docs" / "site-file.md");
    const std::size_t start = page.find("```json\n");
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = page.find("```", start + 8);
    const SiteLoad load = parseSiteText(page.substr(start + 8, end - start - 8), "site-file.md");
    ASSERT_TRUE(load.ok()) << load.error->message();
    EXPECT_EQ(load.site.resolveInput("lectern pc").port, 5);
    EXPECT_TRUE(load.site.isLocked(4));
    EXPECT_EQ(load.site.presets().size(), 2U);
}

TEST(SiteStoreTest, aChangeIsTakenOnlyOnceItIsSaved) {
    TestFolder folder("site-store");
    const auto file = folder / "site.json";
    SiteStore store(file, Site{});
    const auto nameInput = [](std::string name) {
        return [name](Site& site) { return site.updateNames({{{5, name}}, {}}); };
    };

    // Refused, or no change: nothing written.
    EXPECT_EQ(store.apply(nameInput("")).error->code, SiteErrorCode::BadName);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(store.apply(nameInput("Lectern PC")).changed);
    EXPECT_EQ(loadSiteFile(file).site, store.site());
    const auto written = std::filesystem::last_write_time(file);
    EXPECT_FALSE(store.apply(nameInput("Lectern PC")).changed);
    EXPECT_EQ(std::filesystem::last_write_time(file), written);

#ifndef _WIN32
    // The file cannot be replaced: the change is not taken either.
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);
    const SiteUpdate failed = store.apply(nameInput("Laptop"));
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error->code, SiteErrorCode::SaveFailed);
    EXPECT_NE(failed.error->message.find("cannot save " + file.string()), std::string::npos) << failed.error->message;
    EXPECT_EQ(store.site().inputName(5), "Lectern PC");
#endif
}

#ifndef _WIN32
TEST(SiteFilePaths, theUserFileFollowsXdgConfigHomeElseHome) {
    EXPECT_EQ(userSitePath("/home/ann/cfg", "/home/ann"), "/home/ann/cfg/matrix-hub/site.json");
    EXPECT_EQ(userSitePath(nullptr, "/home/ann"), "/home/ann/.config/matrix-hub/site.json");
    EXPECT_EQ(userSitePath("", "/home/ann"), "/home/ann/.config/matrix-hub/site.json");
    EXPECT_EQ(userSitePath("relative/cfg", "/home/ann"), "/home/ann/.config/matrix-hub/site.json");
    EXPECT_EQ(userSitePath(nullptr, nullptr), "");
    EXPECT_EQ(serviceSitePath(), "/var/lib/matrix-hub/site.json");
}
#endif

} // namespace
} // namespace mc
