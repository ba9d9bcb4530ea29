#include "app/settings.h"

int default_base = 16;
int receive_buffer_size = 4096;
int specified_device = -1;
double timeout = -1.0;
const char *specified_mode = nullptr;
const char *specified_input_file = nullptr;
const char *specified_output_file = nullptr;
const char *specified_dump_output_file = nullptr;
const char *specified_json_file = nullptr;
bool strict_mode = false;
