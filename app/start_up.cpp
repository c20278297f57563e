#include "app/start_up.h"

#include "core/program_identity.h"
#include "core/program_settings.h"
#include "platform/system.h"

void SetUpProcess() {
  g_process.program_folder = ExecutableFolder();
  g_process.input_format_keys = {"psd"};
  g_process.output_format_keys = {"png"};
  FillIconMaps();
  g_program_title = BuildProgramTitle();
}
