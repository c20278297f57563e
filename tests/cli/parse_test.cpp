#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "cli/profile.h"
#include "core/conversion_job.h"
#include "settings/program_settings.h"
#include "tests/support/temp_dir.h"

namespace {

// One parse into records of its own, as a run would leave them.
struct Parse {
  explicit Parse(std::vector<std::string> arguments) : parameters(std::move(arguments)) {
    ResetSettings(settings, true);
    OptionTarget target{settings, job, state};
    ParseOptions(parameters, target);
  }
  Parameters parameters;
  ProgramSettings settings;
  ConversionJob job;
  CommandLineState state;
};

}  // namespace

TEST(OptionName, UpperCasesShortFormsWholeAndLongFormsUpToTheEqualsSign) {
  const Parameters parameters(
      {"-i", " --Width=5 ", "-i=a.psd", "file.psd", "--png-interlaced", "--x=a=b", "-"});
  EXPECT_EQ(parameters.OptionName(0), "-I");
  EXPECT_EQ(parameters.OptionName(1), "--WIDTH");
  EXPECT_EQ(parameters.OptionName(2), "-I=A.PSD");
  EXPECT_EQ(parameters.OptionName(3), "");
  EXPECT_EQ(parameters.OptionName(4), "--PNG-INTERLACED");
  EXPECT_EQ(parameters.OptionName(5), "--X");
  EXPECT_EQ(parameters.OptionName(6), "-");
  EXPECT_EQ(parameters.OptionName(7), "");
}

TEST(OptionValue, TakesTheTextAfterTheFirstEqualsSignOfALongOption) {
  const Parameters parameters({"--Mask=%Filename%=x", "--WIDTH", "-o", "--=v", "--a="});
  EXPECT_EQ(parameters.OptionValue(0), "%Filename%=x");
  EXPECT_EQ(parameters.OptionValue(1), "--WIDTH");
  EXPECT_EQ(parameters.OptionValue(2), "-o");
  EXPECT_EQ(parameters.OptionValue(3), "v");
  EXPECT_EQ(parameters.OptionValue(4), "");
  EXPECT_EQ(parameters.OptionValue(9), "");
}

TEST(ParseOptions, ReadsPathsFromTheNextParameterOrAfterTheEqualsSign) {
  const Parse parse({"-I", "in.psd", "--output=out dir", "-c", "png"});
  EXPECT_EQ(parse.state.error_message, "");
  EXPECT_EQ(parse.job.console_run, 1);
  EXPECT_EQ(parse.job.base_input_folder, "in.psd");
  EXPECT_EQ(parse.job.output_folder, "out dir");
  EXPECT_EQ(parse.job.output_format, "png");
}

TEST(ParseOptions, RefusesMissingValues) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"-i"},
                                             {"-i", "-o", "d"},
                                             {"--input"},
                                             {"--input="},
                                             {"-i", "x.psd", "--width"},
                                             {"-i", "x.psd", "--wm-text=--x"},
                                             {"-c", ""},
                                             {"--profile"}}) {
    const Parse parse(arguments);
    EXPECT_EQ(parse.state.error_message, "Incorrect number of parameters") << arguments[0];
  }
}

TEST(ParseOptions, MarksAConsoleRunEvenWhenTheInputValueIsMissing) {
  const Parse parse({"--width=5", "-i"});
  EXPECT_EQ(parse.job.console_run, 1);
  EXPECT_EQ(parse.settings.transform.image_width, 5);
}

TEST(ParseOptions, StopsAtTheFirstErrorKeepingEarlierOptions) {
  const Parse parse({"--width=5", "--height", "--contrast=7"});
  EXPECT_EQ(parse.state.error_message, "Incorrect number of parameters");
  EXPECT_EQ(parse.settings.transform.image_width, 5);
  EXPECT_EQ(parse.settings.adjustment.image_contrast, 0);
}

TEST(ParseOptions, ReadsNumbersKeywordsDecimalsAndFlags) {
  const Parse parse({"--WIDTH=800px", "--brightness=-20", "--png-compression=zlib9",
                     "--tiff-compression=lzw", "--bmp-compression=fast", "--gamma=2.5",
                     "--png-interlaced=0", "--wm-font-style=bolditalic", "--no-subfolders",
                     "--threshold=$80", "--file-timestamp-custom=%1010"});
  EXPECT_EQ(parse.state.error_message, "");
  EXPECT_EQ(parse.settings.transform.do_image_resize, 1);
  EXPECT_EQ(parse.settings.transform.image_width, 800);
  EXPECT_EQ(parse.settings.adjustment.do_image_color_correction, 1);
  EXPECT_EQ(parse.settings.adjustment.image_brightness, -20);
  EXPECT_EQ(parse.settings.output.png_compression, 3);
  EXPECT_EQ(parse.settings.output.tiff_compression, 6);
  EXPECT_EQ(parse.settings.output.bmp_compression, 0);
  EXPECT_FLOAT_EQ(parse.settings.adjustment.image_gamma, 2.5f);
  EXPECT_EQ(parse.settings.output.png_interlaced, 1);
  EXPECT_EQ(parse.settings.watermark.font_style, 3);
  EXPECT_EQ(parse.settings.advanced.keep_subfolders, 0);
  EXPECT_EQ(parse.settings.adjustment.do_image_threshold, 1);
  EXPECT_EQ(parse.settings.adjustment.image_threshold, 128);
  EXPECT_EQ(parse.settings.advanced.custom_timestamp, 10);
  EXPECT_EQ(parse.job.console_run, 0);
}

TEST(ParseOptions, IgnoresUnknownNamesBareParametersAndLateModeOptions) {
  const Parse parse({"file.psd", "--no-such=1", "-v", "-h", "-T", "-i=a.psd", "--width=abc"});
  EXPECT_EQ(parse.state.error_message, "");
  EXPECT_EQ(parse.job.console_run, 0);
  EXPECT_EQ(parse.settings.transform.do_image_resize, 1);
  EXPECT_EQ(parse.settings.transform.image_width, 0);
}

TEST(ParseOptions, LaterOptionsOverrideEarlierOnes) {
  const Parse parse({"--width=5", "--WIDTH=6", "--wm-text=a", "--wm-image=b.png"});
  EXPECT_EQ(parse.settings.transform.image_width, 6);
  EXPECT_EQ(parse.settings.watermark.do_watermark, 2);
  EXPECT_EQ(parse.settings.watermark.text, "a");
  EXPECT_EQ(parse.settings.watermark.image, "b.png");
}

TEST(ParseOptions, SetsRunFlags) {
  const Parse parse({"-q", "--PAUSE", "-d"});
  EXPECT_EQ(parse.state.quiet_output, 1);
  EXPECT_EQ(parse.state.pause_at_exit, 1);
  EXPECT_EQ(parse.job.run_mode_word, "DEBUG");
}

TEST(ParseOptions, JoinsAnOpenQuoteWithTheFollowingParameters) {
  const Parse parse({"--wm-text=\"Hello", "big", "world\"", "-i", "in.psd"});
  EXPECT_EQ(parse.state.error_message, "");
  EXPECT_EQ(parse.settings.watermark.text, "Hello big world");
  EXPECT_EQ(parse.job.base_input_folder, "in.psd");
}

TEST(ParseOptions, JoinsShortPathValuesAndUsesUpTheLastParameter) {
  const Parse joined({"-o", "\"my", "out\"", "-i", "\"a b.psd"});
  EXPECT_EQ(joined.job.output_folder, "my out");
  EXPECT_EQ(joined.job.base_input_folder, "a b.psd");
}

TEST(ParseOptions, StripsQuotesButDoesNotJoinConversionOrKeywordValues) {
  const Parse conversion({"-c", "\"png", "rest\""});
  EXPECT_EQ(conversion.job.output_format, "png");
  const Parse keyword({"--png-compression=\"zlib9", "x\""});
  // A keyword value keeps its quote and so matches nothing.
  EXPECT_EQ(keyword.settings.output.png_compression, 0);
  const Parse quoted({"--wm-text=\"\"a\"\""});
  EXPECT_EQ(quoted.settings.watermark.text, "a");
  const Parse value_with_dash({"--wm-text=-a"});
  EXPECT_EQ(value_with_dash.settings.watermark.text, "-a");
}

TEST(LoadProfile, AppliesGroupCliInFileOrder) {
  TempDir dir;
  const std::string profile = dir.file("p.ini");
  ASSERT_TRUE(WriteFileBytes(profile,
                             "[cli]\r\n--width = 800\r\n--keep-aspect-ratio = 0\r\n"
                             "--jpg-quality=80\r\n--FR-SOLID-OPACITY=7\r\n"
                             "--wm-solid-opacity=9\r\n--filename-mask=\" %filename% .%ext%\"\r\n"
                             "--wm-text=  hi  \r\n--png-compression=\r\n--no-such=1\r\n"
                             "--profile=other.ini\r\n-i=x.psd\r\n--input=x.psd\r\n"
                             "[Other]\r\n--height=5\r\n"));
  const Parse parse({"--png-compression=zlib1", "--profile=" + profile});
  EXPECT_EQ(parse.state.error_message, "");
  EXPECT_EQ(parse.settings.transform.do_image_resize, 1);
  EXPECT_EQ(parse.settings.transform.image_width, 800);
  EXPECT_EQ(parse.settings.transform.keep_aspect_ratio, 1);
  EXPECT_EQ(parse.settings.output.jpg_quality, 80);
  EXPECT_EQ(parse.settings.frame.solid_opacity, 9);
  EXPECT_EQ(parse.settings.advanced.filename_mask, " %filename% .%ext%");
  EXPECT_EQ(parse.settings.watermark.text, "hi");
  EXPECT_EQ(parse.settings.output.png_compression, 0);
  EXPECT_EQ(parse.settings.transform.image_height, 0);
  EXPECT_EQ(parse.job.console_run, 0);
  EXPECT_EQ(parse.job.base_input_folder, "");
}

TEST(LoadProfile, OrderDecidesBetweenProfileAndOption) {
  TempDir dir;
  const std::string profile = dir.file("p.ini");
  ASSERT_TRUE(WriteFileBytes(profile, "[CLI]\n--WIDTH=800\n"));
  EXPECT_EQ(Parse({"--profile=" + profile, "--width=640"}).settings.transform.image_width, 640);
  EXPECT_EQ(Parse({"--width=640", "--profile=" + profile}).settings.transform.image_width, 800);
}

TEST(LoadProfile, FailsOnlyForAnEmptyPathOrAnUnreadableFile) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.file("none.ini"), "[Other]\nkey=1\n"));
  ProgramSettings settings;
  ConversionJob job;
  CommandLineState state;
  OptionTarget target{settings, job, state};
  EXPECT_TRUE(LoadProfile(dir.file("none.ini"), target));
  EXPECT_FALSE(LoadProfile("", target));
  EXPECT_FALSE(LoadProfile(dir.file("missing.ini"), target));
  EXPECT_FALSE(LoadProfile(dir.folder(), target));

  EXPECT_EQ(Parse({"--profile=" + dir.file("missing.ini")}).state.error_message,
            "Invalid profile file");
  EXPECT_EQ(Parse({"--profile=\"\""}).state.error_message, "Invalid profile file");
}

TEST(ReadFirstParameterMode, RecognisesModesOnlyAsTheFirstParameter) {
  EXPECT_EQ(ReadFirstParameterMode(Parameters({"-u", "-i", "x"})), FirstParameterMode::Uninstall);
  EXPECT_EQ(ReadFirstParameterMode(Parameters({"-T", "dir"})), FirstParameterMode::Screenshot);
  EXPECT_EQ(ReadFirstParameterMode(Parameters({"--Version"})), FirstParameterMode::Version);
  EXPECT_EQ(ReadFirstParameterMode(Parameters({"-?"})), FirstParameterMode::Help);
  EXPECT_EQ(ReadFirstParameterMode(Parameters({"--help=x"})), FirstParameterMode::Help);
  EXPECT_EQ(ReadFirstParameterMode(Parameters({"-i", "-v"})), FirstParameterMode::None);
  EXPECT_EQ(ReadFirstParameterMode(Parameters()), FirstParameterMode::None);
}
