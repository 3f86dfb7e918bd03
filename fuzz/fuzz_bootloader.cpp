// The boot loader's replies as the firmware flasher reads them: frames from a byte stream,
// each classified as the answer to a request.
#include "FuzzInput.h"
#include "Update/Firmware/firmwareupdata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace SerialFrame;
    if (size < 1)
        return 0;
    Parser parser(MinFrameSize, firmwareupdata::MaxReplyLength);
    Frame frame;
    for (const QByteArray& piece : fuzz::twoReads(data, size)) {
        parser.append(piece);
        while (parser.next(&frame)) {
            int kind = 0, status = 0;
            firmwareupdata::classifyReply(frame, &kind, &status);
            if (frame.data.size() > firmwareupdata::MaxReplyLength)
                __builtin_trap();
        }
    }
    return 0;
}
