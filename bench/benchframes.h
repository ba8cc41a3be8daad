#ifndef BENCHFRAMES_H
#define BENCHFRAMES_H

#include "framewriter.h"

#include <QByteArray>
#include <QList>
#include <QPair>

// The frames the benchmarks decode, built with the service's frame writer.
namespace BenchFrames {

// count PNG images of about bytesEach bytes, with ids as the service names them.
QList<FrameWriter::Resource> pngResources(int count, int bytesEach);

// A JSON text of about bytes bytes listing the resources.
QByteArray resultJson(const QList<FrameWriter::Resource> &resources, int bytes);

struct Built
{
    QByteArray frame;
    QByteArray content;   // the frame's content, inflated
    int streamOffset = 0; // where the zlib stream starts in frame
    int streamLength = 0;
    QList<QPair<int, int>> resourceSpans; // offset and length of each resource in content
};

// A frame of the given resources and JSON text, compressed or plain.
Built build(const QList<FrameWriter::Resource> &resources, const QByteArray &json, bool compressed);

} // namespace BenchFrames

#endif
