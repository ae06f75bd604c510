#include "platform/hid/ReportDescriptor.h"

#include <algorithm>
#include <array>
#include <map>

namespace tc::platform::hid {

namespace {

enum ItemType { Main = 0, Global = 1, Local = 2 };

struct Globals {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

// Bits per report ID and direction; kept wide so absurd sizes cannot wrap.
struct Lengths {
    std::map<std::uint32_t, std::uint64_t> input, output, feature;
};

std::uint16_t byteLength(const std::map<std::uint32_t, std::uint64_t>& bits) {
    std::uint64_t most = 0;
    for (const auto& [id, b] : bits) most = std::max(most, b);
    if (most == 0) return 0;
    // The report ID byte is always counted, numbered reports or not.
    const std::uint64_t bytes = (most + 7) / 8 + 1;
    return std::uint16_t(std::min<std::uint64_t>(bytes, 0xFFFF));
}

}  // namespace

ReportDescriptorInfo parseReportDescriptor(std::span<const std::uint8_t> d) {
    ReportDescriptorInfo out;
    Globals g;
    std::array<Globals, 16> stack{};
    std::size_t depth = 0;
    int collectionDepth = 0;
    bool topLevelSeen = false;
    std::uint32_t firstUsage = 0;  // first Usage since the last main item
    bool haveUsage = false;
    Lengths len;
    Lengths collectionLen;  // of the top-level collection being read

    std::size_t i = 0;
    while (i < d.size()) {
        const std::uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // long item: size byte, tag byte, data; skipped
            if (i + 3 > d.size()) return out;
            const std::size_t size = d[i + 1];
            if (i + 3 + size > d.size()) return out;
            i += 3 + size;
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (i + 1 + size > d.size()) return out;  // truncated item
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < size; ++k) value |= std::uint32_t(d[i + 1 + k]) << (8 * k);
        i += 1 + size;

        if (type == Global) {
            switch (tag) {
                case 0:
                    g.usagePage = value;
                    break;
                case 7:
                    g.reportSize = value;
                    break;
                case 8:
                    if (value == 0) return out;  // report ID 0 is reserved
                    g.reportId = value;
                    out.numberedReports = true;
                    break;
                case 9:
                    g.reportCount = value;
                    break;
                case 10:  // push
                    if (depth == stack.size()) return out;
                    stack[depth++] = g;
                    break;
                case 11:  // pop
                    if (depth == 0) return out;
                    g = stack[--depth];
                    break;
                default:
                    break;
            }
        } else if (type == Local) {
            if (tag == 0 && !haveUsage) {
                // A 4-byte usage carries its own page in the high half.
                firstUsage = size == 4 ? value : ((g.usagePage & 0xFFFF) << 16) | (value & 0xFFFF);
                haveUsage = true;
            }
        } else if (type == Main) {
            const std::uint64_t bits = std::uint64_t(g.reportSize) * g.reportCount;
            // Reports outside every collection count for the interface only.
            const bool inCollection = collectionDepth > 0 && !out.collections.empty();
            switch (tag) {
                case 8:
                    len.input[g.reportId] += bits;
                    if (inCollection) collectionLen.input[g.reportId] += bits;
                    break;
                case 9:
                    len.output[g.reportId] += bits;
                    if (inCollection) collectionLen.output[g.reportId] += bits;
                    break;
                case 11:
                    len.feature[g.reportId] += bits;
                    if (inCollection) collectionLen.feature[g.reportId] += bits;
                    break;
                case 10:  // collection
                    if (collectionDepth == 0) {
                        HidCaps c;
                        if (haveUsage) {
                            c.usagePage = std::uint16_t(firstUsage >> 16);
                            c.usage = std::uint16_t(firstUsage & 0xFFFF);
                        }
                        if (!topLevelSeen && haveUsage) {
                            out.caps.usagePage = c.usagePage;
                            out.caps.usage = c.usage;
                            topLevelSeen = true;
                        }
                        out.collections.push_back(c);
                        collectionLen = {};
                    }
                    ++collectionDepth;
                    break;
                case 12:  // end collection
                    if (collectionDepth == 0) return out;
                    --collectionDepth;
                    break;
                default:
                    break;
            }
            haveUsage = false;  // locals end with every main item
        }
        // Lengths are kept current so that a fault later still leaves what was seen.
        out.caps.inputReportByteLength = byteLength(len.input);
        out.caps.outputReportByteLength = byteLength(len.output);
        out.caps.featureReportByteLength = byteLength(len.feature);
        if (!out.collections.empty()) {
            HidCaps& c = out.collections.back();
            c.inputReportByteLength = byteLength(collectionLen.input);
            c.outputReportByteLength = byteLength(collectionLen.output);
            c.featureReportByteLength = byteLength(collectionLen.feature);
        }
    }
    // Every interface has at least one top-level collection; all of them must be closed.
    out.wellFormed = topLevelSeen && collectionDepth == 0;
    return out;
}

}  // namespace tc::platform::hid
