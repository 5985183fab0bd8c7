// The model-example flag: whatever value the host last stored, not reduced to 0 or 1.
#include <velmora/frame.h>

namespace {
int modelExample = 0;
}

void setSaveModelAsExample(int value) { modelExample = value; }

int ut_isModelExample() { return modelExample; }
