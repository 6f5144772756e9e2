// The record lock server's listing of the locks held, for the monitor.
#include <cstdio>
#include <string>

#include "lib_base/printer.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "server/locks/lockbucket.h"
#include "server/locks/locktable.h"
#include "server/locks/recordlockserver.h"

namespace {

// The listing ends after the line that takes it past this length.
constexpr size_t kInspectLimitBytes = 786432;
// No line may take the listing past what a string can hold.
constexpr size_t kTextMaxLength = tString::kMaxCapacity - 1;

// One listing line: with no owner filter "ID: <owner>\tTable: <name>\tRecno: <n>\n", else
// "<name>|<n>\n". A table lock shows record number 0.
void FormatLine(std::string& line, const tString& table, const tRecordLockNode& node,
                bool filtered) {
    char recno[400];  // "%.0f" of the largest double is 309 digits
    std::snprintf(recno, sizeof recno, "%.0f", node.recno);
    line.clear();
    if (filtered) {
        line.append(table.GetText()).append("|").append(recno).append("\n");
        return;
    }
    line.append("ID: ").append(UIntToStr(node.owner).GetText());
    line.append("\tTable: ").append(table.GetText());
    line.append("\tRecno: ").append(recno).append("\n");
}

// Appends the bucket's lines; false once the listing is full (the warning is printed then).
bool ListBucket(const tLockServerNode& bucket, u32 ownerFilter, std::string& listing) {
    std::string line;
    for (i32 t = 0; t < bucket.TableCount(); ++t) {
        const tLockList& table = *bucket.GetTable(t);
        const bool more = table.ForEachLock([&](const tRecordLockNode& node) {
            if (ownerFilter != 0 && node.owner != ownerFilter) return true;
            FormatLine(line, table.GetName(), node, ownerFilter != 0);
            const bool fits = line.size() <= kTextMaxLength - listing.size();
            if (fits) listing += line;
            if (fits && listing.size() <= kInspectLimitBytes) return true;
            BasePrintf("[WARNING] (tLockServerNode::InspectLocks) : TOO MANY LOCKS !!!\n");
            return false;
        });
        if (!more) return false;
    }
    return true;
}

}  // namespace

void tRecordLockServer::InspectLocks(tString& text, u32 ownerFilter) {
    // Built in a std::string, whose growth is amortised; the text is copied once at the end.
    std::string listing;
    for (i32 b = 0; b < kLockBucketCount; ++b) {
        tWriting hold(&buckets[b], __FILE__, __LINE__);
        if (!ListBucket(buckets[b], ownerFilter, listing)) break;
    }
    text.Assign(listing.c_str());
}
