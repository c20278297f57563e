#include "gui/input_file_filter.h"

#include <gtest/gtest.h>

#include "engine/output/formats.h"
#include "settings/program_settings.h"

namespace {

class InputFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildInputFormats();
    saved_ = g_process;
    RebuildAcceptedExtensions();
  }
  void TearDown() override {
    g_process = saved_;
    RebuildAcceptedExtensions();
  }

 private:
  ProcessState saved_;
};

}  // namespace

TEST_F(InputFilterTest, HasAllSupportedOnePerDescriptionAndAllFiles) {
  EXPECT_EQ(BuildInputFileFilter("All Supported Files", "All Files"),
            "All Supported Files|*.psd;*.psb|Adobe Photoshop File|*.psb;*.psd|All Files (*.*)|*.*");
}

TEST_F(InputFilterTest, JoinsExtensionsOfOneDescription) {
  g_process.input_format_keys = {"tiff", "psd"};
  RebuildAcceptedExtensions();
  EXPECT_EQ(BuildInputFileFilter("Any", "Every"),
            "Any|*.tiff;*.tif;*.psd;*.psb|Tagged Image File Format|*.tif;*.tiff|"
            "Adobe Photoshop File|*.psb;*.psd|Every (*.*)|*.*");
}
