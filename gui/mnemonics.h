#pragma once

// Mnemonics (the underlined letter that Alt plus the letter reaches) for the captions of one
// window or one menu, chosen so no two share a letter. Without a widget: the window's labels,
// buttons and menus all take theirs from here.

#include <string>
#include <string_view>
#include <vector>

/// The captions with a "&" before the letter each one is reached by: the first letter of a word
/// that is not taken yet, else any other letter or digit not taken; letters in `taken` (held by
/// the menu bar, say) and those chosen for earlier captions are passed over, case aside. A "&"
/// already in a caption is doubled so it shows as itself; a caption with no free letter gets
/// none. Only the part before a TAB (an accelerator's name) is looked at.
std::vector<std::string> AddMnemonics(const std::vector<std::string>& captions,
                                      std::string_view taken = {});

/// The letters (lower case) the captions' mnemonics use, for the next group in the same window.
std::string MnemonicLetters(const std::vector<std::string>& captions);

/// The caption without its mnemonic marker ("&&" stays one "&").
std::string WithoutMnemonic(std::string_view caption);

/// What a screen reader should say for a caption: without its mnemonic marker, its accelerator,
/// and a trailing ":" or "..." ("&Input File:" says "Input File").
std::string SpokenName(std::string_view caption);
