// The reader of action descriptors: what it takes from each kind of value, and that damaged or
// hostile bytes end the read instead of a read past them.

#include "decoder/descriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/psd_writer.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

PsdDescriptorWriter Sample() {
  PsdDescriptorWriter colour("RGBC");
  colour.Double("Rd  ", 255).Double("Grn ", 128.5).Double("Bl  ", 0);
  PsdDescriptorWriter stop("Clrt");
  stop.Object("Clr ", colour).Long("Lctn", 2048);
  PsdDescriptorWriter top("null");
  top.Object("Clr ", colour)
      .UnitFloat("Angl", "#Ang", -45)
      .Bool("useLegacy", true)
      .Enum("Type", "GrdT", "Rdl ")
      .Text("Nm  ", u"Sch\u00F6n")
      .List("Clrs", {stop, stop})
      .Raw("Data", "tdta", std::string("\0\0\0\3abc", 7))
      .Long("Last", -7);
  return top;
}

}  // namespace

TEST(Descriptor, ReadsEveryKindOfValue) {
  const std::vector<uint8_t> bytes = Bytes(Sample().Versioned());
  const std::optional<Descriptor> read = ReadVersionedDescriptor(bytes);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->class_id, "null");
  const Descriptor* colour = read->Object("Clr ");
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->class_id, "RGBC");
  EXPECT_DOUBLE_EQ(colour->Number("Grn "), 128.5);
  EXPECT_DOUBLE_EQ(read->Number("Angl"), -45);
  EXPECT_EQ(read->Find("Angl")->text, "#Ang");
  EXPECT_TRUE(read->Flag("useLegacy"));
  EXPECT_EQ(read->Text("Type"), "Rdl ");
  EXPECT_EQ(read->Find("Type")->type, "GrdT");
  EXPECT_EQ(read->Text("Nm  "), "Sch?n");  // only ASCII is kept of texts
  const std::vector<DescriptorValue>* stops = read->List("Clrs");
  ASSERT_NE(stops, nullptr);
  ASSERT_EQ(stops->size(), 2u);
  ASSERT_TRUE((*stops)[1].object);
  EXPECT_DOUBLE_EQ((*stops)[1].object->Number("Lctn"), 2048);
  // Values after a skipped one are still found.
  EXPECT_DOUBLE_EQ(read->Number("Last"), -7);
  // Missing keys and keys of another kind give the fallback.
  EXPECT_DOUBLE_EQ(read->Number("None", 3), 3);
  EXPECT_EQ(read->Object("Angl"), nullptr);
  EXPECT_FALSE(read->Flag("Angl"));
}

TEST(Descriptor, RefusesEveryCutAndAWrongVersion) {
  const std::string whole = Sample().Versioned();
  for (size_t size = 0; size < whole.size(); ++size) {
    const std::vector<uint8_t> bytes = Bytes(whole.substr(0, size));
    EXPECT_FALSE(ReadVersionedDescriptor(bytes)) << size;
  }
  std::string other = whole;
  other[3] = 15;
  EXPECT_FALSE(ReadVersionedDescriptor(Bytes(other)));
}

TEST(Descriptor, RefusesHostileCountsNestingAndUnknownTypes) {
  // An item count far beyond the bytes.
  std::string counted = PsdDescriptorWriter("null").Bytes();
  counted.replace(12, 4, std::string("\x7F\xFF\xFF\xFF", 4));
  EXPECT_FALSE(ReadDescriptor(Bytes(counted)));
  // Nesting beyond the bound is refused; just within it is read.
  const auto nested = [](int depth) {
    PsdDescriptorWriter inner("leaf");
    for (int i = 0; i < depth; ++i) {
      PsdDescriptorWriter outer("node");
      outer.Object("Chld", inner);
      inner = outer;
    }
    return inner.Bytes();
  };
  EXPECT_TRUE(ReadDescriptor(Bytes(nested(MaxDescriptorDepth))));
  EXPECT_FALSE(ReadDescriptor(Bytes(nested(MaxDescriptorDepth + 1))));
  // A type we do not know ends the read.
  PsdDescriptorWriter unknown("null");
  unknown.Raw("What", "zzzz", "");
  EXPECT_FALSE(ReadDescriptor(Bytes(unknown.Bytes())));
}
