#include "systools/log/logrecord.h"

namespace varko::logtool {

const char* messageTypeName(MessageType type) {
    switch (type) {
        case MessageType::Fault:
            return "Fault";
        case MessageType::Error:
            return "Error";
        case MessageType::Default:
            return "Default";
        case MessageType::Info:
            return "Info";
        case MessageType::Debug:
            return "Debug";
    }
    return "Default";
}

MessageType messageTypeForPriority(int priority) {
    if (priority <= 2) return MessageType::Fault;
    if (priority == 3) return MessageType::Error;
    if (priority <= 5) return MessageType::Default;
    if (priority == 6) return MessageType::Info;
    return MessageType::Debug;
}

}  // namespace varko::logtool
