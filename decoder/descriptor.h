#pragma once

// Photoshop's action descriptors ("Objc" structures), which adjustment, fill and effect blocks
// hold: a class and a list of keyed values, nested. The data is untrusted: every length is
// checked against the block, nesting is bounded, and an unknown type ends the read.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Descriptors nested deeper than this are refused.
constexpr int MaxDescriptorDepth = 32;

struct Descriptor;

/// One value of a descriptor. Numbers of every kind ("doub", "long", "comp", "UntF") are in
/// `number` (a unit float's unit, e.g. "#Pxl", "#Prc", "#Ang", in `text`); texts and enumeration
/// values in `text` (the enumeration's type in `type`); "bool" in `flag`.
struct DescriptorValue {
  enum class Kind : uint8_t { Number, Text, Enumeration, Flag, Object, List, Other };
  Kind kind = Kind::Other;
  double number = 0;
  bool flag = false;
  std::string text;
  std::string type;
  std::shared_ptr<const Descriptor> object;
  std::vector<DescriptorValue> list;
};

struct Descriptor {
  std::string class_id;
  std::vector<std::pair<std::string, DescriptorValue>> items;

  /// The value of `key`; nullptr when there is none.
  const DescriptorValue* Find(std::string_view key) const;
  /// The number of `key`, or `otherwise` when it has none.
  double Number(std::string_view key, double otherwise = 0) const;
  bool Flag(std::string_view key, bool otherwise = false) const;
  /// The text or enumeration value of `key`; empty when it has none.
  std::string Text(std::string_view key) const;
  /// The descriptor of `key`; nullptr when it is not one.
  const Descriptor* Object(std::string_view key) const;
  /// The list of `key`; nullptr when it is not one.
  const std::vector<DescriptorValue>* List(std::string_view key) const;
};

/// Reads the descriptor at the start of `bytes` (its name, class and items, no version before
/// it); std::nullopt when it breaks its bytes or holds a type we do not read. `used`, when given,
/// receives the bytes it took.
std::optional<Descriptor> ReadDescriptor(std::span<const uint8_t> bytes, size_t* used = nullptr);

/// Reads a block that starts with a four-byte descriptor version (16) before its descriptor, as
/// fill and effect blocks do after their own fields: `bytes` starts at that version.
std::optional<Descriptor> ReadVersionedDescriptor(std::span<const uint8_t> bytes);
