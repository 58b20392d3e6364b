// dravix-cli convert: the same texts and outcomes as File > Save, from a BMP on disk.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/export/TestDecoders.h"
#include "cli/Cli.h"
#include "export/ImageTexts.h"

namespace dravix::cli {
int RunConvert(CliContext& context, const CommandArgs& args);
}

namespace dravix::test {
namespace {

struct Outcome {
    int status;
    std::string out, err;
};

Outcome Convert(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::istringstream in;
    cli::CliContext context(cli::CliOptions{}, out, err, in);
    context.SetCommand(cli::FindCommand("convert"));
    cli::CommandArgs parsed;
    parsed.words = args;
    const int status = cli::RunConvert(context, parsed);
    return {status, out.str(), err.str()};
}

TEST(ConvertCommand, SavesInTheFormatOfTheOutputExtension) {
    const std::string input = TempPath("in.bmp");
    ImageContainer image;
    ASSERT_TRUE(image.Create(300, 10, 24));
    FillTestPattern(image);
    ASSERT_TRUE(image.Save(input, ImageType::kBmp));

    const std::string png = TempPath("out.PNG");
    const Outcome saved = Convert({input, png});
    EXPECT_EQ(saved.status, cli::kExitOk);
    EXPECT_EQ(saved.out, std::string(texts::kSaveSuccess) + "\n");
    RgbImage decoded;
    ASSERT_TRUE(DecodePng(ReadFile(png), decoded));
    EXPECT_EQ(MaxChannelDifference(decoded, ToRgb(image)), 0);

    const std::string ico = TempPath("out.ico");
    const Outcome refused = Convert({input, ico});
    EXPECT_EQ(refused.status, cli::kExitFailed);
    EXPECT_EQ(refused.err, "dravix-cli: '" + ico + "': " + texts::kIcoSize + "\n");
    EXPECT_TRUE(ReadFile(ico).empty());

    const std::string doc = TempPath("out.doc");
    // Every failure names its file; a name whose extension chooses no format is a usage error.
    const Outcome unknown = Convert({input, doc});
    EXPECT_EQ(unknown.status, cli::kExitUsage);
    EXPECT_EQ(unknown.err,
              "dravix-cli: '" + doc + "': " + texts::kUnsupportedType + " (see dravix-cli help convert)\n");
    EXPECT_TRUE(ReadFile(doc).empty());
    const std::string missing = TempPath("missing.bmp");
    EXPECT_EQ(Convert({missing, png}).err, "dravix-cli: cannot open '" + missing + "'\n");
    const std::string notBmp = TempPath("in.png");
    WriteFile(notBmp, std::vector<uint8_t>(40, 7));
    const Outcome unreadable = Convert({notBmp, png});
    EXPECT_EQ(unreadable.status, cli::kExitFailed);
    EXPECT_EQ(unreadable.err, "dravix-cli: '" + notBmp + "': " + texts::kBmpInfo + "\n");
    EXPECT_EQ(Convert({input}).status, cli::kExitUsage);
    for (const std::string& path : {input, png, ico, doc, notBmp}) std::remove(path.c_str());
}

}  // namespace
}  // namespace dravix::test
