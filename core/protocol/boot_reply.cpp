#include "core/protocol/boot_reply.h"

namespace boot_reply {

namespace {

unsigned ErrorOutcome(uint8_t code)
{
    switch (code) {
    case 1: return kWrongModel;
    case 2: return kDeviceNumber;
    case 3: return kProgramSize;
    case 10: return kBlockNumber;
    case 11: return kChecksumTransmission;
    default: return kNoAnswer;
    }
}

}  // namespace

Decoded DecodeBlockReply(const uint8_t *reply)
{
    Decoded d;
    switch (reply[kStatusAt]) {
    case kStatusRequest:
        d.step = Step::NextBlock;
        d.outcome = kGoOn;
        d.offset = reply[kOffsetLowAt] + 256 * reply[kOffsetHighAt];
        d.count = reply[kCountAt];
        break;
    case kStatusEnd:
        d.step = Step::End;
        d.outcome = kGoOn;
        break;
    case kStatusError:
        d.outcome = ErrorOutcome(reply[kErrorCodeAt]);
        break;
    default:
        d.outcome = kNoAnswer;
        break;
    }
    return d;
}

}  // namespace boot_reply
