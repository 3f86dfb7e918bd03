// The printer link's receive side: frames cut out of a byte stream that arrives in pieces,
// each reply decoded as the link does.
#include "FuzzInput.h"
#include "Thread/SerialFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace SerialFrame;
    if (size < 1)
        return 0;
    Parser parser(8, 1024);
    Frame frame;
    int frames = 0;
    for (const QByteArray& piece : fuzz::twoReads(data, size)) {
        parser.append(piece);
        while (parser.next(&frame)) {
            ++frames;
            quint32 kib = 0;
            StatusReply status;
            switch (frame.command) {
            case RepStatus:
                decodeStatus(frame.data, &status);
                break;
            case RepMachineInfo:
                decodeMachineInfo(frame.data);
                break;
            case RepFreeSpace:
                decodeFreeSpace(frame.data, &kib);
                break;
            default:
                replyFlag(frame.data, 3);
                break;
            }
        }
    }
    // Every byte is either in a frame, thrown away, or still waiting.
    if (parser.buffered() < 0 || parser.droppedBytes() > qint64(size - 1))
        __builtin_trap();
    return 0;
}
