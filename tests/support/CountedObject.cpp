#include "support/CountedObject.h"

std::atomic<int> CountedObject::constructed{0};
std::atomic<int> CountedObject::destroyed{0};
