#include "app/start_up.h"

#include "platform/system.h"
#include "settings/program_settings.h"

void SetUpProcess() {
  // Installed, the themes lie in the shared data folder; in a build, beside the executable.
  g_process.program_folder = RunningProgramPaths().data_folder;
  g_process.input_format_keys = {"psd"};
  g_process.output_format_keys = {"png"};
}
