#include "V2Handler.h"

#include "TAVOFormat.h"
#include "V2TAVOFile.h"

V2Handler::V2Handler(V2TAVOFile* f) : file(f), dataOffset(f->chanDataOffset) {}

void V2Handler::writeOrFail(const void* buf, uint64_t size) { file->writeOrFail(buf, size); }

void V2Handler::markWriteFailed() { file->writeFailed = true; }

int V2Handler::fileDescriptor() const { return file->file ? fileno(file->file) : -1; }

void V2Handler::finalize() {
    for (size_t i = 0; i < variableHeaderOffsets.size() && i < file->variableHeaders.size(); i++) {
        if (!variableHeaderOffsets[i]) {
            continue;
        }
        const auto& data = file->variableHeaders[i].data;
        uint64_t p = file->tell();
        writeOrFail(data.data(), data.size());
        uint64_t q = file->tell();
        uint8_t off[8];
        tavo::write64(off, p);
        file->seek(variableHeaderOffsets[i], SEEK_SET);
        writeOrFail(off, sizeof(off));
        file->seek(q, SEEK_SET);
    }
}
