#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// The build writes the help file and the pages next to the programs.
fs::path BinDir() {
    return fs::path(DRAVIX_HELP_BIN_DIR);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> PagesIn(const fs::path& dir) {
    std::set<std::string> pages;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == ".html") pages.insert(entry.path().filename().string());
    }
    return pages;
}

// The local pages a page links to (web addresses and in-page anchors left out).
std::set<std::string> LocalLinks(const std::string& html) {
    static const std::regex href(R"re(href="([^"#:]+)(#[^"]*)?")re");
    std::set<std::string> links;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), href); it != std::sregex_iterator(); ++it) {
        links.insert((*it)[1].str());
    }
    return links;
}

class HelpOutput : public ::testing::Test {
  protected:
    fs::path HelpDir() const { return BinDir() / "help"; }
};

TEST_F(HelpOutput, TheHelpFileIsACompiledGuideOfEveryPage) {
    const fs::path chm = BinDir() / "Dravix V1.0.CHM";
    ASSERT_TRUE(fs::exists(chm)) << chm;
    const std::string data = ReadAll(chm);
    EXPECT_EQ(data.substr(0, 4), "ITSF");  // the signature of a compiled help file
    EXPECT_GT(data.size(), 16u * 1024u);
    const std::set<std::string> pages = PagesIn(HelpDir());
    EXPECT_GE(pages.size(), 10u);
    // Names in a compiled help file's directory are stored as plain text.
    for (const std::string& page : pages) EXPECT_NE(data.find("/" + page), std::string::npos) << page;
}

TEST_F(HelpOutput, EveryLinkLeadsToAPageAndEveryPageIsReachable) {
    ASSERT_TRUE(fs::exists(HelpDir() / "index.html"));  // what the Help menu opens without a viewer
    ASSERT_TRUE(fs::exists(HelpDir() / "style.css"));
    const std::set<std::string> pages = PagesIn(HelpDir());
    std::set<std::string> reached = {"index.html"};
    std::set<std::string> pending = {"index.html"};
    while (!pending.empty()) {
        const std::string page = *pending.begin();
        pending.erase(pending.begin());
        const std::string html = ReadAll(HelpDir() / page);
        EXPECT_NE(html.find("</html>"), std::string::npos) << page;
        for (const std::string& link : LocalLinks(html)) {
            EXPECT_TRUE(fs::exists(HelpDir() / link)) << page << " links to a missing " << link;
            if (link.ends_with(".html") && reached.insert(link).second) pending.insert(link);
        }
    }
    EXPECT_EQ(reached, pages);
}

}  // namespace
