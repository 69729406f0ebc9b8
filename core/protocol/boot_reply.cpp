#include "core/protocol/boot_reply.h"

#include "core/engine/update_procedure.h"

namespace boot_reply {

namespace {

unsigned ErrorOutcome(uint8_t code)
{
    switch (code) {
    case 1: return TProt::kWrongModel;
    case 2: return TProt::kDeviceNumber;
    case 3: return TProt::kProgramSize;
    case 10: return TProt::kBlockNumber;
    case 11: return TProt::kChecksumTransmission;
    default: return TProt::kNoAnswer;
    }
}

}  // namespace

Decoded DecodeBlockReply(const uint8_t *reply)
{
    Decoded d;
    switch (reply[kStatusAt]) {
    case kStatusRequest:
        d.step = Step::NextBlock;
        d.outcome = TProt::kGoOn;
        d.offset = reply[kOffsetLowAt] + 256 * reply[kOffsetHighAt];
        d.count = reply[kCountAt];
        break;
    case kStatusEnd:
        d.step = Step::End;
        d.outcome = TProt::kGoOn;
        break;
    case kStatusError:
        d.outcome = ErrorOutcome(reply[kErrorCodeAt]);
        break;
    default:
        d.outcome = TProt::kNoAnswer;
        break;
    }
    return d;
}

}  // namespace boot_reply
