#include "store/cdxindeximpl.h"

#include <algorithm>

// Entries by number. Leaf pages carry their entry count in their header, interior pages carry no
// counts, so the numbering is a list of the leaves with the number of each one's first entry,
// read in one walk along the leaf level (headers only, no decoding) and kept until the tag
// changes. Finding an entry by number is then a binary search and one leaf; numbering an entry is
// a descent to its leaf.

namespace store {

using namespace cdx;
using namespace cdxi;

const CdxTag::Impl::Numbering& CdxIndex::Impl::numbering(CdxTag::Impl& tag)
{
    CdxTag::Impl::Numbering& n = tag.numbering;
    if (n.valid && n.generation == generation)
        return n;
    n.valid = false;
    n.leaves.clear();
    n.starts.clear();
    n.indexOf.clear();

    uint32_t offset = edgeLeaf(tag, false)->offset;

    // Along the leaf level: a leaf this handle holds decoded is taken from the cache (it may hold
    // changes not yet written), any other from its page header in the file.
    lockForPageRead();
    uint64_t total = 0;
    uint32_t left = kNone;
    const uint64_t pages = fileEnd / kPageSize;
    while (offset != kNone) {
        if (n.leaves.size() > pages)
            fail(QStringLiteral("loop in the sibling links of tag %1").arg(QString::fromLatin1(tag.name)));
        uint16_t attr;
        uint32_t count, prev, right;
        if (auto found = cache.find(offset); found != cache.end()) {
            const Node& node = **found->second;
            attr = node.attr;
            count = uint32_t(node.count());
            prev = node.left;
            right = node.right;
        } else {
            checkPointer(offset, "a node link");
            uint8_t header[12];
            if (const uint8_t* raw = rawPages.find(offset))
                std::memcpy(header, raw, sizeof header);
            else
                readAt(offset, header, sizeof header);
            attr = getLe16(header);
            count = getLe16(header + 2);
            prev = getLe32(header + 4);
            right = getLe32(header + 8);
        }
        if (!(attr & kAttrLeaf))
            fail(QStringLiteral("page at offset %1 of the leaf level of tag %2 is not a leaf")
                     .arg(offset)
                     .arg(QString::fromLatin1(tag.name)));
        if (prev != left)
            fail(QStringLiteral("sibling links of the pages at offsets %1 and %2 disagree").arg(left).arg(offset));
        n.indexOf.emplace(offset, uint32_t(n.leaves.size()));
        n.leaves.push_back(offset);
        n.starts.push_back(total);
        total += count;
        left = offset;
        offset = right;
    }
    n.starts.push_back(total);
    n.generation = generation;
    n.valid = true;
    return n;
}

uint64_t CdxTag::count()
{
    CdxIndex::Impl& ix = *impl_->index;
    return cdxRead(ix, [&] {
        checkLive(*impl_);
        return ix.numbering(*impl_).starts.back();
    });
}

bool CdxTag::entryAt(uint64_t number, CdxEntry& entry)
{
    CdxIndex::Impl& ix = *impl_->index;
    return cdxRead(ix, [&] {
        checkLive(*impl_);
        const auto& n = ix.numbering(*impl_);
        if (number >= n.starts.back())
            return false;
        // The last leaf whose first entry is at or before `number` (empty leaves share a start).
        const auto at = std::upper_bound(n.starts.begin(), n.starts.end() - 1, number) - 1;
        const size_t i = size_t(at - n.starts.begin());
        NodePtr leaf = ix.node(*impl_, n.leaves[i]);
        const uint64_t pos = number - n.starts[i];
        if (!leaf->isLeaf() || pos >= uint64_t(leaf->count()))
            ix.fail(QStringLiteral("the leaf at offset %1 of tag %2 changed under its numbering")
                        .arg(n.leaves[i])
                        .arg(QString::fromLatin1(impl_->name)));
        ix.fill(*leaf, int(pos), *impl_, entry);
        return true;
    });
}

uint64_t CdxTag::numberOf(const QByteArray& key, uint32_t recno)
{
    CdxIndex::Impl& ix = *impl_->index;
    const QByteArray k = normalizedKey(key, impl_->keyLength);
    return cdxRead(ix, [&] {
        checkLive(*impl_);
        const auto& n = ix.numbering(*impl_);
        NodePtr leaf = ix.descend(*impl_, bytes(k), recno, false, nullptr);
        const auto found = n.indexOf.find(leaf->offset);
        if (found == n.indexOf.end())
            ix.fail(QStringLiteral("the leaf at offset %1 is not on the leaf level of tag %2")
                        .arg(leaf->offset)
                        .arg(QString::fromLatin1(impl_->name)));
        return n.starts[found->second] + uint64_t(leaf->lowerBound(bytes(k), recno));
    });
}

} // namespace store
