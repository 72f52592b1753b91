// The journal's reader fed arbitrary bytes (clang's libFuzzer): it must neither crash nor hang,
// and whatever it accepts must be what its checks promise: bare names, a pass no larger than its
// count, indexes in range. A record it accepts, written out again, reads back the same.
// Built with -DKORVALO_FUZZ=ON by clang; scripts/test.sh runs it from the seeds in corpus/:
// records the journal wrote (v1-*, v2-*), and the same without their checksums (unsealed-*),
// which the target reads once as they are and once with every line sealed.

#include "journal/journalformat.h"
#include "journal/namecodec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace korvalo;
using namespace korvalo::journalformat;

void require(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// What the reader promises of a record it accepts.
void checkAccepted(const Parsed &p)
{
    for (const auto &[name, depth] : p.prefixed)
        require(isBareName(name) && depth >= 1 && std::size_t(depth) <= name.size() / 4);
    if (!p.pass)
        return;
    const PassRecord &pass = *p.pass;
    require(pass.fileCount >= 0 && pass.files.size() <= std::size_t(pass.fileCount));
    require(pass.refused.size() == pass.files.size());
    require(pass.attempted >= 0 && std::size_t(pass.attempted) <= pass.files.size());
    static const FileName orderingPrefix =
        std::filesystem::path(std::u8string(kOrderingFolderPrefix)).native();
    require(pass.kind != PassKind::Order ||
            (isBareName(pass.orderFolder) && pass.orderFolder.starts_with(orderingPrefix)));
    for (const PlannedRename &file : pass.files) {
        require(isBareName(file.from) && isBareName(file.to));
        require(pass.kind != PassKind::Order || file.from == file.to);
    }
}

// The record written out as the journal writes it.
std::string written(const Parsed &p)
{
    std::string out = knownLines(p.key, p.stick, p.prefixed);
    if (!p.pass)
        return out;
    out += passLine(*p.pass);
    appendFileLines(out, p.pass->files);
    for (std::size_t i = 0; i < p.pass->refused.size(); ++i) {
        if (p.pass->refused[i])
            out += refusedLine(int(i));
    }
    if (p.pass->end)
        out += endLine(*p.pass->end, p.pass->attempted);
    return out;
}

// The input with a checksum on each whole line: random bytes seldom make one that holds, and the
// lines' own checks are what is to be fuzzed.
std::string sealedLines(std::string_view text)
{
    std::string out;
    std::size_t pos = 0;
    for (std::size_t newline; (newline = text.find('\n', pos)) != std::string_view::npos;
         pos = newline + 1) {
        const std::size_t start = out.size();
        out.append(text.substr(pos, newline - pos));
        sealLine(out, start);
    }
    out.append(text.substr(pos));
    return out;
}

void checkRecord(std::string_view text)
{
    const Parsed header = parse(text, true);
    const Parsed p = parse(text);
    require(!p.valid || header.valid);
    if (!p.valid)
        return;
    require(!p.damaged && header.key == p.key);
    checkAccepted(p);
    const Parsed again = parse(written(p));
    require(again.valid && !again.torn && again.key == p.key && again.prefixed == p.prefixed);
    require(again.pass.has_value() == p.pass.has_value());
    if (p.pass) {
        require(again.pass->kind == p.pass->kind && again.pass->files == p.pass->files &&
                again.pass->refused == p.pass->refused && again.pass->end == p.pass->end &&
                again.pass->attempted == p.pass->attempted &&
                again.pass->fileCount == p.pass->fileCount &&
                again.pass->orderFolder == p.pass->orderFolder);
    }
}

template <typename String> void checkNameCodec(std::string_view token)
{
    String name;
    if (!namecodec::decode(token, name))
        return;
    std::string encoded;
    namecodec::encodeTo(encoded, name);
    String back;
    require(namecodec::decode(encoded, back) && back == name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    checkRecord(text);
    checkRecord(sealedLines(text));
    checkNameCodec<std::string>(text);
    checkNameCodec<std::wstring>(text);
    return 0;
}
