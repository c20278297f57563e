#include "decoder/descriptor.h"

#include <cstring>

#include "engine/image/byte_cursor.h"

namespace {

constexpr uint32_t DescriptorVersion = 16;

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : cursor_(bytes) {}

  size_t position() const { return cursor_.position(); }

  bool Descriptor(::Descriptor& out, int depth) {
    if (depth > MaxDescriptorDepth) return false;
    std::string name;
    uint64_t count = 0;
    if (!UnicodeText(name) || !Key(out.class_id) || !cursor_.Read(4, count)) return false;
    // Each item takes at least eight bytes: a count too large for the block is damage.
    if (count > cursor_.remaining() / 8) return false;
    out.items.reserve(count);
    for (uint64_t i = 0; i < count; ++i) {
      std::string key;
      DescriptorValue value;
      if (!Key(key) || !Value(value, depth)) return false;
      out.items.emplace_back(std::move(key), std::move(value));
    }
    return true;
  }

 private:
  // A key or class: a length, or 0 for four characters.
  bool Key(std::string& key) {
    uint64_t length = 0;
    if (!cursor_.Read(4, length)) return false;
    if (length == 0) length = 4;
    return Bytes(length, key);
  }

  bool Bytes(uint64_t length, std::string& text) {
    const std::span<const uint8_t> bytes = cursor_.Peek(length);
    if (bytes.size() != length) return false;
    text.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    cursor_.Skip(length);
    return true;
  }

  // UTF-16 text with a count of units first; kept as UTF-8 of its ASCII part, which is all the
  // drawing needs of it (names and enumerations are ASCII keys).
  bool UnicodeText(std::string& text) {
    uint64_t units = 0;
    if (!cursor_.Read(4, units) || units > cursor_.remaining() / 2) return false;
    text.clear();
    for (uint64_t i = 0; i < units; ++i) {
      uint64_t unit = 0;
      cursor_.Read(2, unit);
      if (unit == 0) continue;
      text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return true;
  }

  bool Double(double& value) {
    const std::span<const uint8_t> bytes = cursor_.Peek(8);
    if (bytes.size() != 8) return false;
    uint64_t bits = 0;
    for (const uint8_t byte : bytes) bits = bits << 8 | byte;
    std::memcpy(&value, &bits, sizeof value);
    cursor_.Skip(8);
    return true;
  }

  // A reference ("obj "): its items are read and dropped; nothing we draw needs one.
  bool Reference() {
    uint64_t count = 0;
    if (!cursor_.Read(4, count) || count > cursor_.remaining() / 4) return false;
    std::string text, key;
    for (uint64_t i = 0; i < count; ++i) {
      if (!Bytes(4, key)) return false;
      if (key == "prop") {
        if (!UnicodeText(text) || !Key(text) || !Key(text)) return false;
      } else if (key == "Clss") {
        if (!UnicodeText(text) || !Key(text)) return false;
      } else if (key == "Enmr") {
        if (!UnicodeText(text) || !Key(text) || !Key(text) || !Key(text)) return false;
      } else if (key == "rele") {
        if (!UnicodeText(text) || !Key(text) || !cursor_.Skip(4)) return false;
      } else if (key == "Idnt" || key == "indx") {
        if (!cursor_.Skip(4)) return false;
      } else if (key == "name") {
        if (!UnicodeText(text) || !Key(text) || !UnicodeText(text)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  bool Value(DescriptorValue& value, int depth) {
    std::string type;
    if (!Bytes(4, type)) return false;
    return TypedValue(type, value, depth);
  }

  bool TypedValue(const std::string& type, DescriptorValue& value, int depth) {
    using Kind = DescriptorValue::Kind;
    uint64_t number = 0;
    if (type == "Objc" || type == "GlbO") {
      auto object = std::make_shared<::Descriptor>();
      if (!Descriptor(*object, depth + 1)) return false;
      value.kind = Kind::Object;
      value.object = std::move(object);
      return true;
    }
    if (type == "VlLs") {
      uint64_t count = 0;
      if (!cursor_.Read(4, count) || count > cursor_.remaining() / 4) return false;
      value.kind = Kind::List;
      value.list.resize(count);
      for (DescriptorValue& item : value.list) {
        if (!Value(item, depth + 1)) return false;
      }
      return true;
    }
    if (type == "doub") {
      value.kind = Kind::Number;
      return Double(value.number);
    }
    if (type == "UntF") {
      value.kind = Kind::Number;
      return Bytes(4, value.text) && Double(value.number);
    }
    if (type == "long") {
      if (!cursor_.Read(4, number)) return false;
      value.kind = Kind::Number;
      value.number = static_cast<int32_t>(static_cast<uint32_t>(number));
      return true;
    }
    if (type == "comp") {
      if (!cursor_.Read(8, number)) return false;
      value.kind = Kind::Number;
      value.number = static_cast<double>(static_cast<int64_t>(number));
      return true;
    }
    if (type == "bool") {
      if (!cursor_.Read(1, number)) return false;
      value.kind = Kind::Flag;
      value.flag = number != 0;
      return true;
    }
    if (type == "TEXT") {
      value.kind = Kind::Text;
      return UnicodeText(value.text);
    }
    if (type == "enum") {
      value.kind = Kind::Enumeration;
      return Key(value.type) && Key(value.text);
    }
    if (type == "type" || type == "GlbC") {
      value.kind = Kind::Other;
      return UnicodeText(value.text) && Key(value.type);
    }
    if (type == "tdta" || type == "alis") {
      if (!cursor_.Read(4, number)) return false;
      value.kind = Kind::Other;
      return cursor_.Skip(number);
    }
    if (type == "obj ") {
      value.kind = Kind::Other;
      return Reference();
    }
    if (type == "ObAr") {
      // An array of objects, each item a list of unit floats: taken as a list of numbers.
      std::string name, class_id;
      uint64_t count = 0;
      if (!cursor_.Read(4, number) || !UnicodeText(name) || !Key(class_id) ||
          !cursor_.Read(4, count) || count > cursor_.remaining() / 8) {
        return false;
      }
      value.kind = Kind::List;
      for (uint64_t i = 0; i < count; ++i) {
        std::string key, item_type, unit;
        uint64_t values = 0;
        if (!Key(key) || !Bytes(4, item_type) || item_type != "UnFl" || !Bytes(4, unit) ||
            !cursor_.Read(4, values) || values > cursor_.remaining() / 8) {
          return false;
        }
        for (uint64_t k = 0; k < values; ++k) {
          DescriptorValue item;
          item.kind = Kind::Number;
          item.text = unit;
          if (!Double(item.number)) return false;
          value.list.push_back(std::move(item));
        }
      }
      return true;
    }
    return false;
  }

  ByteCursor cursor_;
};

}  // namespace

const DescriptorValue* Descriptor::Find(std::string_view key) const {
  for (const auto& [name, value] : items) {
    if (name == key) return &value;
  }
  return nullptr;
}

double Descriptor::Number(std::string_view key, double otherwise) const {
  const DescriptorValue* value = Find(key);
  return value && value->kind == DescriptorValue::Kind::Number ? value->number : otherwise;
}

bool Descriptor::Flag(std::string_view key, bool otherwise) const {
  const DescriptorValue* value = Find(key);
  return value && value->kind == DescriptorValue::Kind::Flag ? value->flag : otherwise;
}

std::string Descriptor::Text(std::string_view key) const {
  const DescriptorValue* value = Find(key);
  if (!value) return {};
  if (value->kind != DescriptorValue::Kind::Text &&
      value->kind != DescriptorValue::Kind::Enumeration) {
    return {};
  }
  return value->text;
}

const Descriptor* Descriptor::Object(std::string_view key) const {
  const DescriptorValue* value = Find(key);
  return value && value->kind == DescriptorValue::Kind::Object ? value->object.get() : nullptr;
}

const std::vector<DescriptorValue>* Descriptor::List(std::string_view key) const {
  const DescriptorValue* value = Find(key);
  return value && value->kind == DescriptorValue::Kind::List ? &value->list : nullptr;
}

std::optional<Descriptor> ReadDescriptor(std::span<const uint8_t> bytes, size_t* used) {
  Reader reader(bytes);
  Descriptor descriptor;
  if (!reader.Descriptor(descriptor, 0)) return std::nullopt;
  if (used) *used = reader.position();
  return descriptor;
}

std::optional<Descriptor> ReadVersionedDescriptor(std::span<const uint8_t> bytes) {
  if (bytes.size() < 4 || BigEndian32(bytes.data()) != DescriptorVersion) return std::nullopt;
  return ReadDescriptor(bytes.subspan(4));
}
