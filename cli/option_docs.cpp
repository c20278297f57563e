#include "cli/option_docs.h"

#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/run_command_line.h"
#include "cli/usage.h"
#include "core/program_identity.h"
#include "engine/output/formats.h"
#include "platform/ascii.h"
#include "settings/program_settings.h"

namespace {

// What the table itself cannot say about an option: the name of its value, the section it is
// listed in, a sentence on what it does, and the setting whose range bounds a value that the
// option's own setter stores.
struct OptionText {
  std::string_view long_name;
  std::string_view section;
  std::string_view value;  // "FILE" and "PATH" also tell the completion what to offer
  std::string_view text;
  std::string_view range_group = {};
  std::string_view range_key = {};
};

constexpr std::string_view MainSection = "Main";
constexpr std::string_view RunSection = "Run";
// Options whose value the table does not explain and no text was written for.
constexpr std::string_view Undocumented = "Undocumented";
constexpr std::string_view OtherFormats = "Other formats";

constexpr OptionText OptionTexts[] = {
    {"--INPUT", MainSection, "FILE",
     "The PSD or PSB document to convert, or a folder whose documents are all converted. May be "
     "given several times. This option makes a command-line run."},
    {"--INPUT-LIST", MainSection, "FILE",
     "Adds the documents and folders listed in FILE, one path a line (UTF-8, empty lines "
     "skipped); - reads the list from standard input. This option makes a command-line run."},
    {"--RECURSIVE", MainSection, "",
     "Input folders are searched with their subfolders; links to folders are not followed."},
    {"--OUTPUT", MainSection, "PATH",
     "The output folder, which must exist; without it the image is saved beside the input. A "
     "relative folder is taken from the working directory; one that begins with .. is refused."},
    {"--CONVERSION", MainSection, "STR", "The output format; png is the only one offered."},
    {"--PROFILE", MainSection, "FILE",
     "Applies the keys of group [CLI] of an INI file; the keys are the long option names. Options "
     "apply from left to right, so a later option overrides a profile given before it."},
    {"--ROTATION", "Transform", "DEG", "Rotates the image by DEG degrees.", "Transform",
     "Image Rotation"},
    {"--WIDTH", "Transform", "NUM", "Resizes the image to this width; both sizes are needed."},
    {"--HEIGHT", "Transform", "NUM", "Resizes the image to this height; both sizes are needed."},
    {"--BRIGHTNESS", "Adjustment", "NUM", "Changes the brightness.", "Adjustment",
     "Image Brightness"},
    {"--CONTRAST", "Adjustment", "NUM", "Changes the contrast.", "Adjustment", "Image Contrast"},
    {"--GAMMA", "Adjustment", "X", "Applies a gamma correction.", "Adjustment", "Image Gamma"},
    {"--INVERT", "Adjustment", "", "Inverts the colours."},
    {"--THRESHOLD", "Adjustment", "NUM",
     "Turns the image black and white at this brightness threshold.", "Adjustment",
     "Image Threshold"},
    {"--FR-SOLID-LEFT", "Frame", "NUM", "Width in pixels of the frame's left band."},
    {"--FR-SOLID-RIGHT", "Frame", "NUM", "Width in pixels of the frame's right band."},
    {"--FR-SOLID-TOP", "Frame", "NUM", "Height in pixels of the frame's top band."},
    {"--FR-SOLID-BOTTOM", "Frame", "NUM", "Height in pixels of the frame's bottom band."},
    {"--WM-TEXT", "Watermark", "TEXT",
     "Draws TEXT as a watermark. %eol% starts a new line; %filename%, %width%, %height% and %bpp% "
     "are the current file's name, size after resizing and saved depth."},
    {"--WM-IMAGE", "Watermark", "FILE", "Draws the picture in FILE as a watermark."},
    {"--FROM-LAYERS", "Input", "",
     "Rebuilds the picture from the document's layers even when its stored composite is "
     "genuine."},
    {"--HIDE-LAYER", "Input", "PATTERN",
     "Leaves out every layer and group whose name matches PATTERN (* any text, ? one character, "
     "[...] one of a set) and rebuilds the picture from the rest; may be given more than once."},
    {"--NO-SUBFOLDERS", "Advanced", "", "Saves every image straight into the output folder."},
    {"--DEBUG", RunSection, "", "Prints every setting the run uses and a line per file."},
    {"--QUIET", RunSection, "", "Prints no status messages."},
    {"--PAUSE", RunSection, "", "Waits for a key before the program ends."},
    {"--JOBS", RunSection, "NUM",
     "Converts NUM files at once (1 to 256); the default is one per processor core. The outputs "
     "and their names are the same for any NUM."},
    {"--REPORT", RunSection, "FILE",
     "Writes a JSON Lines report: one object per input with input, output, status, reason, "
     "milliseconds and left_out (what a picture rebuilt from the layers does not draw)."},
    // Plain rows explain themselves through their setting; a sentence helps the common ones.
    {"--PNG-BPP", "Output", "NUM", "PNG bit depth; 0 keeps the depth of the document."},
    {"--PNG-COMPRESSION", "Output", "", "PNG compression level."},
    {"--PNG-INTERLACED", "Output", "", "Saves an interlaced PNG."},
    {"--KEEP-ICC-PROFILE", "Output", "",
     "Keeps the document's own colours and writes its ICC profile instead of converting to sRGB."},
    {"--WIDTH-UNIT", "Transform", "", "Whether --width counts pixels or percent."},
    {"--HEIGHT-UNIT", "Transform", "", "Whether --height counts pixels or percent."},
    {"--KEEP-ASPECT-RATIO", "Transform", "", "Keeps the proportions when resizing."},
    {"--FLIP-HORIZONTAL", "Transform", "", "Mirrors the image left to right."},
    {"--FLIP-VERTICAL", "Transform", "", "Mirrors the image top to bottom."},
    {"--GREYSCALE", "Adjustment", "", "Turns the image grey."},
    {"--WM-FONT", "Watermark", "FACE",
     "The watermark's font face, found through fontconfig; an unknown face stops the run."},
    {"--WM-FONT-SIZE", "Watermark", "NUM", "The font size in points at 96 dpi."},
    {"--FR-SOLID-OPACITY", "Frame", "NUM", "The frame's opacity; 255 is opaque."},
    {"--WM-TEXT-ANTIALIASING", "Watermark", "",
     "Smooth text; without it each pixel is the text colour or the box colour."},
    {"--WM-TEXT-PADDING", "Watermark", "NUM", "Pixels between the text and the edge of its box."},
    {"--WM-TEXT-OPACITY", "Watermark", "NUM", "The text's opacity; 255 is opaque."},
    {"--WM-BACK-COLOR", "Watermark", "RRGGBB", "The colour of the box behind the text."},
    {"--WM-BACK-OPACITY", "Watermark", "NUM", "The box's opacity; 255 is opaque."},
    {"--WM-TEXT-POSITION", "Watermark", "", "Where the text box is placed."},
    {"--WM-TEXT-ROTATION", "Watermark", "DEG", "Turns the text box by DEG degrees."},
    {"--WM-IMAGE-GREYSCALE", "Watermark", "", "Turns the watermark picture grey."},
    {"--WM-IMAGE-OPACITY", "Watermark", "NUM", "The watermark picture's opacity; 255 is opaque."},
    {"--WM-IMAGE-POSITION", "Watermark", "", "Where the watermark picture is placed."},
    {"--WM-IMAGE-ROTATION", "Watermark", "DEG", "Turns the watermark picture by DEG degrees."},
    {"--FILENAME-MASK", "Advanced", "MASK",
     "The output file name; see FILE NAME TOKENS. The default is %filename%.%ext%."},
    {"--FILE-TIMESTAMP", "Advanced", "", "Which time the saved file is given."},
};

struct Section {
  std::string_view name;
  std::string_view heading;
  std::string_view intro;
};

constexpr Section Sections[] = {
    {MainSection, "Main options", ""},
    {"Input", "Reading documents", ""},
    {"Output", "Saving", ""},
    {"Transform", "Geometry", ""},
    {"Adjustment", "Colour", ""},
    {"Frame", "Frame", ""},
    {"Watermark", "Watermarks", ""},
    {"Advanced", "Output names and times", ""},
    {RunSection, "Running", ""},
    {OtherFormats, "Other formats",
     "Kept for profiles and scripts written for other formats; this version reads PSD and writes "
     "PNG only, so these change nothing."},
    {Undocumented, "Undocumented", ""},
};

const OptionText* TextOf(const OptionSpec& option) {
  for (const OptionText& text : OptionTexts) {
    if (text.long_name == option.long_name) return &text;
  }
  return nullptr;
}

// Settings that belong to a format this version neither reads nor writes ("BMP BPP").
bool ForOtherFormat(const OptionSpec& option) {
  if (!option.field) return false;
  const std::string_view group = option.field->group;
  if (group != "Input" && group != "Output") return false;
  const std::string_view key = option.field->key;
  const std::string format = ToLowerAscii(key.substr(0, key.find(' ')));
  // A setting of the group that names no format (keeping the ICC profile) is everyone's.
  BuildInputFormats();
  const bool names_format = group == "Input" ? g_input_formats.Find(format) != nullptr
                                             : FindOutputFormat(format) != nullptr;
  if (!names_format) return false;
  const std::vector<std::string>& offered =
      group == "Input" ? g_process.input_format_keys : g_process.output_format_keys;
  for (const std::string& offered_key : offered) {
    if (offered_key == format) return false;
  }
  return true;
}

std::string_view SectionOf(const OptionSpec& option) {
  if (ForOtherFormat(option)) return OtherFormats;
  if (const OptionText* text = TextOf(option)) return text->section;
  if (option.field) return option.field->group;
  return Undocumented;
}

// The names of keyword values as users type them.
std::vector<std::string> KeywordsOf(const OptionSpec& option) {
  std::vector<std::string> keywords;
  if (option.rule != ValueRule::Keyword || !option.field) return keywords;
  for (const SettingChoice& choice : option.field->choices) {
    if (!choice.keyword.empty()) keywords.push_back(ToLowerAscii(choice.keyword));
  }
  return keywords;
}

// The setting whose range bounds the option's value; nullptr when the value is unbounded.
const SettingField* RangeFieldOf(const OptionSpec& option) {
  const SettingField* field = option.field;
  if (const OptionText* text = TextOf(option); text && !text->range_key.empty()) {
    field = FindSetting(text->range_group, text->range_key);
  }
  return field && field->range.bounded ? field : nullptr;
}

std::string ValueName(const OptionSpec& option) {
  if (const OptionText* text = TextOf(option); text && !text->value.empty()) {
    return std::string(text->value);
  }
  switch (option.rule) {
    case ValueRule::PathNext:
      return "PATH";
    case ValueRule::Number:
      return "NUM";
    case ValueRule::Decimal:
      return "X";
    case ValueRule::Flag:
    case ValueRule::Keyword:
      return {};
    case ValueRule::TextNext:
    case ValueRule::Text:
      break;
  }
  if (option.field && option.field->type == SettingType::Colour) return "RRGGBB";
  return "TEXT";
}

// The option's own words, a "-" of its text escaped for roff.
std::string Roff(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\') {
      escaped += "\\e";
    } else if (c == '-') {
      escaped += "\\-";
    } else {
      escaped += c;
    }
  }
  // A line that begins with a dot or an apostrophe would be read as a request.
  if (!escaped.empty() && (escaped[0] == '.' || escaped[0] == '\'')) escaped.insert(0, "\\&");
  return escaped;
}

// The keywords of an option in bold, each after `separator`.
std::string KeywordList(const OptionSpec& option, std::string_view separator) {
  std::string list;
  for (const std::string& keyword : KeywordsOf(option)) {
    if (!list.empty()) list += separator;
    list += "\\fB" + Roff(keyword) + "\\fR";
  }
  return list;
}

// A short list of keywords stands in the option's line ("=none|zlib1"); a long one would not fit
// there and goes into the description.
constexpr size_t InlineKeywordsWidth = 40;

std::string InlineKeywords(const OptionSpec& option) {
  size_t width = 0;
  for (const std::string& keyword : KeywordsOf(option)) width += keyword.size() + 1;
  return width <= InlineKeywordsWidth ? KeywordList(option, "|") : "";
}

// "\fB\-i\fR \fIFILE\fR, \fB\-\-input\fR=\fIFILE\fR" and the like.
std::string Synopsis(const OptionSpec& option) {
  const std::string value = ValueName(option);
  std::string line;
  if (!option.short_name.empty()) {
    line += "\\fB" + Roff(ToLowerAscii(option.short_name)) + "\\fR";
    if (!value.empty() && option.rule != ValueRule::Flag) line += " \\fI" + value + "\\fR";
    line += ", ";
  }
  line += "\\fB" + Roff(ToLowerAscii(option.long_name)) + "\\fR";
  if (!InlineKeywords(option).empty()) {
    line += "=" + InlineKeywords(option);
  } else if (option.rule == ValueRule::Keyword) {
    line += "=\\fIWORD\\fR";
  } else if (!value.empty()) {
    line += "=\\fI" + value + "\\fR";
  }
  return line;
}

std::string Description(const OptionSpec& option) {
  std::string text;
  if (const OptionText* own = TextOf(option)) text = std::string(own->text);
  if (text.empty() && option.field) {
    text = "Sets \"" + std::string(option.field->key) + "\".";
  }
  if (const SettingField* range = RangeFieldOf(option)) {
    text += (text.empty() ? "" : " ") + std::string("Range: ") + RangeText(*range) + ".";
  }
  text = Roff(text);
  if (option.rule == ValueRule::Keyword && InlineKeywords(option).empty()) {
    text += (text.empty() ? "" : " ") + std::string("\\fIWORD\\fR is one of ") +
            KeywordList(option, ", ") + ".";
  }
  return text;
}

struct NameToken {
  std::string_view token;
  std::string_view meaning;
};

constexpr NameToken NameTokens[] = {
    {"%filename%", "the input's file name without its extension"},
    {"%filename[u]%, %filename[l]%, %filename[t]%", "the same in upper, lower or title case"},
    {"%ext%", "the output format's extension"},
    {"%ext[u]%, %ext[t]%", "the same in upper or title case"},
    {"%yyyy%", "the year"},
    {"%mm%", "the month"},
    {"%dd%", "the day of the month"},
    {"%hh%", "the hour"},
    {"%ii%", "the minute"},
    {"%ss%", "the second"},
    {"%width%", "the image's width after resizing"},
    {"%height%", "the image's height after resizing"},
    {"%bpp%", "the bit depth the image is saved with"},
    {"%rnd%", "a random number"},
    {"%n%", "the file's number in the run"},
};

}  // namespace

std::string ManualPage() {
  const std::string version = FormatVersion(VersionNumber);
  std::string page;
  page += ".TH QUORVIX 1 \"\" \"Quorvix " + version + "\" \"User Commands\"\n";
  page += ".nh\n";  // keywords and option names must not be hyphenated
  page += ".SH NAME\nquorvix \\- convert layered PSD documents into PNG images\n";
  page += ".SH SYNOPSIS\n.B quorvix\n\\fB\\-i\\fR \\fIFILE\\fR [\\fIOPTION\\fR...]\n.br\n";
  page += ".B quorvix\n\\fB\\-h\\fR | \\fB\\-v\\fR\n.br\n.B quorvix\n";
  page += ".SH DESCRIPTION\n";
  page +=
      "Quorvix turns a layered Photoshop document (PSD) into a PNG image, with optional steps "
      "between loading and saving: rotation, resizing, flipping, brightness, contrast, gamma, "
      "inversion, greyscale, threshold, a solid frame and a text or image watermark.\n";
  page +=
      ".PP\nWithout \\fB\\-i\\fR the program opens its window. A command-line run never reads "
      "or writes the settings file.\n";
  page +=
      ".PP\nOption names are case-insensitive; long options take their value after \\fB=\\fR. "
      "Numbers accept \\fB$\\fR hexadecimal and \\fB%\\fR binary (\\fB\\-\\-threshold=$80\\fR)."
      " Options apply from left to right.\n";
  page += ".SH OPTIONS\n";
  page +=
      ".TP\n\\fB\\-h\\fR, \\fB\\-?\\fR, \\fB\\-\\-help\\fR\nPrints the usage text and exits; "
      "only as the first parameter.\n";
  page +=
      ".TP\n\\fB\\-v\\fR, \\fB\\-\\-version\\fR\nPrints the version and exits; only as the "
      "first parameter.\n";
  for (const Section& section : Sections) {
    std::string entries;
    for (const OptionSpec& option : OptionTable()) {
      if (SectionOf(option) != section.name) continue;
      entries += ".TP\n" + Synopsis(option) + "\n";
      const std::string description = Description(option);
      if (!description.empty()) entries += description + "\n";
    }
    if (entries.empty()) continue;
    page += ".SS " + std::string(section.heading) + "\n";
    if (!section.intro.empty()) page += Roff(section.intro) + "\n";
    page += entries;
  }
  page +=
      ".SH FILE NAME TOKENS\nThe file name mask (\\fB\\-\\-filename\\-mask\\fR) may hold "
      "these tokens, in any case:\n";
  for (const NameToken& token : NameTokens) {
    page += ".TP\n\\fB" + Roff(token.token) + "\\fR\n" + Roff(token.meaning) + "\n";
  }
  page += ".SH EXIT STATUS\n";
  page += ".TP\n" + std::to_string(ExitSuccess) +
          "\nDone: every file converted, or help, version, window run.\n";
  page += ".TP\n" + std::to_string(ExitRunStopped) +
          "\nThe run stopped at a check, or a file was not converted.\n";
  page += ".TP\n" + std::to_string(ExitParseError) +
          "\nThe options could not be read (wrong number of parameters, unreadable profile).\n";
  page += ".TP\n" + std::to_string(ExitAnotherCopy) +
          "\nAnother copy of the same version is running.\n";
  page +=
      ".SH FILES\n.TP\n\\fI$XDG_CONFIG_HOME/Halvane/tarnex/config.ini\\fR\n"
      "The window's settings (\\fI~/.config\\fR when \\fBXDG_CONFIG_HOME\\fR is unset). A "
      "command-line run neither reads nor writes it.\n";
  page +=
      ".SH EXAMPLES\n.EX\nquorvix \\-i picture.psd \\-o /tmp/out \\-\\-width=50 "
      "\\-\\-height=50 \\-\\-width\\-unit=percent \\-\\-height\\-unit=percent\n.EE\n";
  return page;
}

std::string BashCompletion() {
  std::string words = "-h -v --help --version";
  std::string cases;
  std::string files = "-i|--input";
  std::string folders;
  for (const OptionSpec& option : OptionTable()) {
    const std::string long_name = ToLowerAscii(option.long_name);
    if (!option.short_name.empty()) words += " " + ToLowerAscii(option.short_name);
    words += " " + long_name + (option.rule == ValueRule::Flag ? "" : "=");
    const std::vector<std::string> keywords = KeywordsOf(option);
    if (!keywords.empty()) {
      std::string list;
      for (const std::string& keyword : keywords) list += (list.empty() ? "" : " ") + keyword;
      cases += "    " + long_name + ")\n      COMPREPLY=($(compgen -W \"" + list +
               "\" -- \"${cur,,}\"))\n      return\n      ;;\n";
    }
    const std::string value = ValueName(option);
    std::string names = long_name;
    if (!option.short_name.empty()) names = ToLowerAscii(option.short_name) + "|" + long_name;
    if (value == "FILE" && long_name != "--input") files += "|" + names;
    if (value == "PATH") folders += (folders.empty() ? "" : "|") + names;
  }
  std::string script;
  script += "# bash completion for quorvix; generated from its option table\n";
  script += "_comp_quorvix() {\n";
  script += "  local cur prev words cword split\n";
  script += "  _init_completion -s || return\n";
  script += "  case \"${prev,,}\" in\n";
  script += "    " + files + ")\n      _filedir\n      return\n      ;;\n";
  if (!folders.empty())
    script += "    " + folders + ")\n      _filedir -d\n      return\n      ;;\n";
  script += cases;
  script += "  esac\n";
  script += "  $split && return\n";
  script += "  if [[ $cur == -* ]]; then\n";
  script += "    COMPREPLY=($(compgen -W '" + words + "' -- \"${cur,,}\"))\n";
  script += "    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace\n";
  script += "    return\n";
  script += "  fi\n";
  script += "  _filedir\n";
  script += "}\n";
  script += "complete -F _comp_quorvix quorvix\n";
  return script;
}
