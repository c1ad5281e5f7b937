#include "device/dtv_base.h"

namespace tavrel {

ThreadPriority ThreadPriorityFromSetting(int32_t value) {
    switch (value) {
        case 1:
            return ThreadPriority::kAboveNormal;
        case 2:
            return ThreadPriority::kHighest;
        default:
            return ThreadPriority::kNormal;
    }
}

}  // namespace tavrel
