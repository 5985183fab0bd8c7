// The process-wide model-example flag that the library keeps for its host.
#pragma once

#include <velmora/export.h>

VLX_API void setSaveModelAsExample(int value);
VLX_API int ut_isModelExample();
