// Vector mask paths read from their records, in this process: where the points land, and the
// bounds that keep a hostile path from being drawn.

#include "decoder/vector_mask.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/psd_writer.h"

namespace {

// The path records of a vector mask block: what follows its version and flags.
std::optional<VectorPath> ReadRecords(const std::string& block, uint32_t width, uint32_t height) {
  const std::vector<uint8_t> records(block.begin() + 8, block.end());
  return ReadVectorPath(records, width, height);
}

}  // namespace

TEST(ReadVectorPath, PointsLandInCanvasPixelsAcrossThenDown) {
  // An oblong canvas and a point off the diagonal: a swap of the stored vertical-first order shows.
  const PsdPathKnot knot{{0.25, 0.5}, {0.5, 0.75}, {1.25, -0.5}};
  const std::optional<VectorPath> path = ReadRecords(
      PsdVectorMaskBlock({{true, {knot, PsdCornerKnot(0, 1)}}, {false, {PsdCornerKnot(1, 0)}}}),
      200, 100);
  ASSERT_TRUE(path);
  EXPECT_FALSE(path->initial_fill);
  ASSERT_EQ(path->subpaths.size(), 2u);
  EXPECT_TRUE(path->subpaths[0].closed);
  EXPECT_FALSE(path->subpaths[1].closed);
  ASSERT_EQ(path->subpaths[0].knots.size(), 2u);
  const VectorKnot& read = path->subpaths[0].knots[0];
  // Stored as 8.24 fractions: within a 2^-24 of the side.
  EXPECT_NEAR(read.before.x, 50, 1e-4);
  EXPECT_NEAR(read.before.y, 50, 1e-4);
  EXPECT_NEAR(read.anchor.x, 100, 1e-4);
  EXPECT_NEAR(read.anchor.y, 75, 1e-4);
  EXPECT_NEAR(read.after.x, 250, 1e-4);
  EXPECT_NEAR(read.after.y, -50, 1e-4);
  EXPECT_NEAR(path->subpaths[1].knots[0].anchor.x, 200, 1e-4);
  EXPECT_NEAR(path->subpaths[1].knots[0].anchor.y, 0, 1e-4);
}

TEST(ReadVectorPath, TakesTheInitialFillAndIgnoresShortPadding) {
  std::string block = PsdVectorMaskBlock({{true, {PsdCornerKnot(0.5, 0.5)}}}, 0, true);
  block.append(25, '\0');  // less than one record
  const std::optional<VectorPath> path = ReadRecords(block, 10, 10);
  ASSERT_TRUE(path);
  EXPECT_TRUE(path->initial_fill);
  ASSERT_EQ(path->subpaths.size(), 1u);
  EXPECT_EQ(path->subpaths[0].knots.size(), 1u);
}

TEST(ReadVectorPath, RefusesPathsBeyondItsBounds) {
  // A knot before any subpath: the length record is taken out.
  std::string orphan = PsdVectorMaskBlock({{true, {PsdCornerKnot(0.5, 0.5)}}});
  orphan.erase(8 + 2 * 26, 26);
  EXPECT_FALSE(ReadRecords(orphan, 10, 10));

  // A point just within the reach, and one beyond it.
  const double reach = MaxPathReach;
  EXPECT_TRUE(ReadRecords(PsdVectorMaskBlock({{true, {PsdCornerKnot(reach - 0.01, 0)}}}), 10, 10));
  EXPECT_FALSE(
      ReadRecords(PsdVectorMaskBlock({{true, {PsdCornerKnot(-reach - 0.01, 0)}}}), 10, 10));

  // Knots over all subpaths, and subpaths, are bounded alike.
  PsdSubpath crowded;
  crowded.knots.assign(MaxVectorKnots, PsdCornerKnot(0.5, 0.5));
  EXPECT_TRUE(ReadRecords(PsdVectorMaskBlock({crowded}), 10, 10));
  crowded.knots.push_back(PsdCornerKnot(0.5, 0.5));
  EXPECT_FALSE(ReadRecords(PsdVectorMaskBlock({crowded}), 10, 10));
  EXPECT_FALSE(
      ReadRecords(PsdVectorMaskBlock(std::vector<PsdSubpath>(MaxVectorKnots + 1)), 10, 10));
}
