#include "PortList.h"

#include <algorithm>
#include <cstdlib>

namespace kordel {

// The platform's own list of serial ports (one file per OS); nullopt when unreadable.
std::optional<std::vector<TPortEntry>> PlatformPortEntries(const TPortListSource& source);
// What the platform knows about a device named outside its list (one file per OS).
TPortIdentity IdentityOfExtraPort(const std::string& path);

namespace {

// Character p (1-based) of a text; 0 beyond either end, so an exhausted text reads 0.
unsigned CharAt(std::string_view s, std::size_t p) {
    return p >= 1 && p <= s.size() ? static_cast<unsigned char>(s[p - 1]) : 0u;
}

bool IsDigit(unsigned c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(unsigned c) {
    return c >= 1 && c <= 32;
}
unsigned Upper(unsigned c) {
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

int Sign(int v) {
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

// Compare two digit runs position by position; `byDigit` also decides on the first
// different digit (left-aligned runs), otherwise only the run lengths count.
int CompareRuns(std::string_view x, std::string_view y, bool byDigit) {
    for (std::size_t p = 1;; ++p) {
        unsigned cx = CharAt(x, p);
        unsigned cy = CharAt(y, p);
        if (!IsDigit(cx) && !IsDigit(cy)) return 0;
        if (!IsDigit(cx)) return -1;
        if (!IsDigit(cy)) return 1;
        if (byDigit && cx != cy) return cx < cy ? -1 : 1;
    }
}

int CompareIgnoreCase(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned ca = Upper(static_cast<unsigned char>(a[i]));
        unsigned cb = Upper(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return Sign(static_cast<int>(a.size() > b.size()) - static_cast<int>(a.size() < b.size()));
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The classic in-place quicksort of a list: partition around the middle element,
// recurse into the left part, iterate on the right. `compare` is NatSortCompare's
// rule over two positions of the list.
template <typename List, typename Compare>
void QuickSort(List& list, std::ptrdiff_t left, std::ptrdiff_t right, const Compare& compare) {
    std::ptrdiff_t i = 0;
    do {
        i = left;
        std::ptrdiff_t j = right;
        std::ptrdiff_t pivot = (left + right) / 2;
        do {
            while (compare(list, i, pivot) < 0) ++i;
            while (compare(list, j, pivot) > 0) --j;
            if (i <= j) {
                if (i != j) std::swap(list[i], list[j]);
                if (pivot == i) {
                    pivot = j;
                } else if (pivot == j) {
                    pivot = i;
                }
                ++i;
                --j;
            }
        } while (i <= j);
        if (left < j) QuickSort(list, left, j, compare);
        left = i;
    } while (i < right);
}

template <typename List, typename Compare>
void SortList(List& list, const Compare& compare) {
    if (list.size() < 2) return;
    QuickSort(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1, compare);
}

}  // namespace

int CompareRight(std::string_view a, std::string_view b) {
    return CompareRuns(a, b, false);
}
int CompareLeft(std::string_view a, std::string_view b) {
    return CompareRuns(a, b, true);
}

int NatCompare(std::string_view a, std::string_view b, bool CaseSensitive) {
    std::size_t ia = 0;
    std::size_t ib = 0;
    for (;;) {
        unsigned ca = CharAt(a, ++ia);
        unsigned cb = CharAt(b, ++ib);
        while (IsSpace(ca)) ca = CharAt(a, ++ia);
        while (IsSpace(cb)) cb = CharAt(b, ++ib);
        if (IsDigit(ca) && IsDigit(cb)) {
            std::string_view restA = a.substr(ia - 1);
            std::string_view restB = b.substr(ib - 1);
            int r =
                (ca == '0' || cb == '0') ? CompareLeft(restA, restB) : CompareRight(restA, restB);
            if (r != 0) return r;
        }
        if (ca == 0 && cb == 0) return 0;
        if (!CaseSensitive) {
            ca = Upper(ca);
            cb = Upper(cb);
        }
        if (ca < cb) return -1;
        if (ca > cb) return 1;
    }
}

int NatSortCompare(const std::vector<std::string>& List, std::size_t Index1, std::size_t Index2) {
    return NatCompare(List[Index1], List[Index2], false);
}

void SortPortList(std::vector<std::string>& items) {
    SortList(items, [](const std::vector<std::string>& list, std::ptrdiff_t a, std::ptrdiff_t b) {
        return NatSortCompare(list, static_cast<std::size_t>(a), static_cast<std::size_t>(b));
    });
}

void SortPortList(std::vector<TPortEntry>& items) {
    SortList(items, [](const std::vector<TPortEntry>& list, std::ptrdiff_t a, std::ptrdiff_t b) {
        return NatCompare(list[static_cast<std::size_t>(a)].Name,
                          list[static_cast<std::size_t>(b)].Name, false);
    });
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareIgnoreCase(a, b) == 0;
}

void EndListingAtOverlongName(std::vector<TPortEntry>& enumerated) {
    auto overlong = std::find_if(enumerated.begin(), enumerated.end(), [](const TPortEntry& p) {
        return p.Name.size() > MaxPortNameLength;
    });
    enumerated.erase(overlong, enumerated.end());
}

namespace {

std::vector<TPortEntry> ExtraPortEntries(const TPortListSource& source) {
    std::string extra;
    if (source.extraPorts) {
        extra = *source.extraPorts;
    } else if (const char* env = std::getenv("KORDEL_EXTRA_PORTS")) {
        extra = env;
    }
    std::vector<TPortEntry> extras;
    for (const auto& text : SplitColons(extra)) {
        TPortEntry entry = EntryForDevice(text, source);
        entry.Identity = IdentityOfExtraPort(entry.Path);
        extras.push_back(std::move(entry));
    }
    EndListingAtOverlongName(extras);
    return extras;
}

}  // namespace

std::optional<std::vector<TPortEntry>> ListPortEntries(const TPortListSource& source) {
    auto ports = PlatformPortEntries(source);
    if (ports) EndListingAtOverlongName(*ports);
    std::vector<TPortEntry> extras = ExtraPortEntries(source);
    if (!ports && extras.empty()) return std::nullopt;
    if (!ports) ports.emplace();
    ports->insert(ports->end(), extras.begin(), extras.end());
    std::stable_sort(ports->begin(), ports->end(), [](const TPortEntry& a, const TPortEntry& b) {
        return CompareIgnoreCase(a.Name, b.Name) < 0;
    });
    return ports;
}

void ListComPorts(std::vector<std::string>& Ports, const TPortListSource& source) {
    auto entries = ListPortEntries(source);
    if (!entries) return;
    Ports.clear();
    for (const auto& entry : *entries) Ports.push_back(entry.Name);
}

const TPortEntry* TPortSelector::Selected() const {
    if (ItemIndex < 0 || ItemIndex >= static_cast<int>(Items.size())) return nullptr;
    return &Items[static_cast<std::size_t>(ItemIndex)];
}

std::string TPortSelector::Text() const {
    const TPortEntry* entry = Selected();
    return entry ? entry->Name : std::string();
}

bool NamesPort(const TPortEntry& entry, std::string_view text) {
    return EqualsIgnoreCase(entry.Name, text) || EqualsIgnoreCase(entry.Path, text);
}

void SelectRemembered(TPortSelector& selector, const std::string& remembered) {
    const auto found =
        std::find_if(selector.Items.begin(), selector.Items.end(),
                     [&](const TPortEntry& item) { return NamesPort(item, remembered); });
    selector.ItemIndex = selector.Items.empty() ? -1
                         : found == selector.Items.end()
                             ? 0
                             : static_cast<int>(found - selector.Items.begin());
}

void RefreshPortList(TPortSelector& selector, const std::string& remembered,
                     const TPortListSource& source) {
    if (auto entries = ListPortEntries(source)) selector.Items = std::move(*entries);
    SortPortList(selector.Items);
    SelectRemembered(selector, remembered);
}

}  // namespace kordel
