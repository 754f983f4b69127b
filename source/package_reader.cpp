// Workbooks in zip packages: Office Open XML (.xlsx, .xlsm) and OpenDocument (.ods). The
// kind is told by the package's content types and relationships, or by its mimetype; the
// parts are streamed through xml::Scanner, so a sheet of millions of cells never lies in
// memory as XML.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/dates.h"
#include "source/package_parts.h"

namespace kordb {

namespace package {

namespace {

std::string folder(std::string_view part) {
    size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// A relationship target made a part name: relative to the source's folder, or absolute.
std::string resolveTarget(std::string_view sourceFolder, std::string_view target) {
    target = target.substr(0, target.find_first_of("#?"));
    std::string path;
    if (!target.empty() && (target.front() == '/' || target.front() == '\\'))
        path = std::string(target.substr(1));
    else
        path = std::string(sourceFolder) + std::string(target);
    std::vector<std::string> segments;
    std::string seg;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/' || path[i] == '\\') {
            if (seg == "..") {
                if (!segments.empty()) segments.pop_back();
            } else if (!seg.empty() && seg != ".") {
                segments.push_back(seg);
            }
            seg.clear();
        } else {
            seg += path[i];
        }
    }
    std::string out;
    for (const auto& s : segments) out += (out.empty() ? "" : "/") + s;
    return out;
}

std::string relsPartOf(std::string_view part) {
    size_t slash = part.rfind('/');
    std::string_view base = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return folder(part) + "_rels/" + std::string(base) + ".rels";
}

struct RelsHandler {
    bool wantText = false;
    std::string source;  // folder of the source part
    std::vector<Relationship> rels;
    std::string s1, s2, s3, s4;

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        if (sc.depth() != 2 || e.ns != Ns::PkgRel || !is(e.local, "Relationship")) return;
        if (sc.value(e.find(Ns::None, "TargetMode"), s4) == "External") return;
        countEntry(sc, rels.size(), "relationships");
        rels.push_back({std::string(sc.value(e.find(Ns::None, "Id"), s1)),
                        std::string(sc.value(e.find(Ns::None, "Type"), s2)),
                        resolveTarget(source, sc.value(e.find(Ns::None, "Target"), s3))});
    }
    void onEnd(xml::Scanner&, Ns, std::string_view) {}
    void onText(xml::Scanner&, std::string_view) {}
};

}  // namespace

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

bool parseIsoDate(std::string_view s, Cell& cell) {
    IsoStamp t;
    if (!parseIsoStamp(trimWhiteSpace(s), t)) return false;
    cell.type = Cell::Type::Date;
    cell.number = t.dayFraction();
    cell.error = kSerialTime;
    if (t.hasDate) {
        cell.number += double(calendarDay(t.year, t.month, t.day));
        cell.error = kCalendarDate;
    }
    return true;
}

uint8_t errorCode(std::string_view text) {
    static constexpr struct {
        std::string_view text;
        uint8_t code;
    } kErrors[] = {{"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
                   {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B}};
    text = trimWhiteSpace(text);
    for (const auto& e : kErrors)
        if (e.text == text) return e.code;
    return 0xFF;
}

void countEntry(xml::Scanner& sc, size_t count, const char* what) {
    if (count >= kMaxEntries) sc.damaged("more than " + std::to_string(kMaxEntries) + " " + what);
}

std::string checkedText(xml::Scanner& sc, std::string&& s) {
    if (!xml::validUtf8(s)) sc.damaged("a text that is not valid UTF-8");
    return std::move(s);
}

std::string_view lastSegment(std::string_view uri) {
    size_t slash = uri.rfind('/');
    return slash == std::string_view::npos ? uri : uri.substr(slash + 1);
}

std::vector<Relationship> readRels(ZipPackage& zip, std::string_view sourcePart) {
    int64_t entry = zip.find(sourcePart.empty() ? "_rels/.rels" : relsPartOf(sourcePart));
    RelsHandler h;
    h.source = folder(sourcePart);
    if (entry >= 0) scanPart(zip, entry, h);
    return std::move(h.rels);
}

}  // namespace package

namespace {

using namespace package;

struct ContentTypesHandler {
    bool wantText = false;
    std::unordered_map<std::string, std::string> defaults, overrides;  // folded keys
    std::string s1, s2;

    void onStart(xml::Scanner& sc, const xml::Element& e) {
        if (sc.depth() != 2 || e.ns != Ns::Types) return;
        countEntry(sc, defaults.size() + overrides.size(), "content types");
        if (is(e.local, "Default"))
            defaults[lower(sc.value(e.find(Ns::None, "Extension"), s1))] =
                std::string(sc.value(e.find(Ns::None, "ContentType"), s2));
        else if (is(e.local, "Override"))
            overrides[lower(resolveTarget("", sc.value(e.find(Ns::None, "PartName"), s1)))] =
                std::string(sc.value(e.find(Ns::None, "ContentType"), s2));
    }
    void onEnd(xml::Scanner&, Ns, std::string_view) {}
    void onText(xml::Scanner&, std::string_view) {}

    std::string typeOf(std::string_view part) const {
        auto it = overrides.find(lower(part));
        if (it != overrides.end()) return it->second;
        size_t dot = part.rfind('.');
        if (dot == std::string_view::npos) return {};
        auto d = defaults.find(lower(part.substr(dot + 1)));
        return d == defaults.end() ? std::string() : d->second;
    }
};

enum class MainKind { Workbook, Binary, Text, Presentation, Drawing, Unknown };

MainKind classify(std::string_view type) {
    auto starts = [&](std::string_view p) { return type.substr(0, p.size()) == p; };
    if (starts("application/vnd.ms-excel.sheet.binary")) return MainKind::Binary;
    if ((starts("application/vnd.openxmlformats-officedocument.spreadsheetml.") ||
         starts("application/vnd.ms-excel.")) &&
        type.size() > 9 && type.substr(type.size() - 9) == ".main+xml")
        return MainKind::Workbook;
    if (starts("application/vnd.openxmlformats-officedocument.wordprocessingml.") ||
        starts("application/vnd.ms-word."))
        return MainKind::Text;
    if (starts("application/vnd.openxmlformats-officedocument.presentationml.") ||
        starts("application/vnd.ms-powerpoint."))
        return MainKind::Presentation;
    if (starts("application/vnd.ms-visio.")) return MainKind::Drawing;
    return MainKind::Unknown;
}

std::unique_ptr<WorkbookReader> openOoxml(std::unique_ptr<ZipPackage> zip) {
    ContentTypesHandler types;
    int64_t typesEntry = zip->find("[Content_Types].xml");
    if (typesEntry >= 0) scanPart(*zip, typesEntry, types);
    std::string main;
    for (const auto& r : readRels(*zip, ""))
        if (lastSegment(r.type) == "officeDocument") {
            main = r.target;
            break;
        }
    if (main.empty()) {
        for (const auto& [part, type] : types.overrides)
            if (classify(type) != MainKind::Unknown) main = part;
    }
    MainKind kind = main.empty() ? MainKind::Unknown : classify(types.typeOf(main));
    if (kind == MainKind::Unknown) {
        // Without a content type, the part's place tells.
        if (zip->has("xl/workbook.bin") || lower(main).ends_with(".bin"))
            throw ReadError(kBinaryWorkbook);
        if (!main.empty() && zip->has(main) && lower(main).starts_with("xl/"))
            kind = MainKind::Workbook;
        else if (zip->has("xl/workbook.xml")) {
            main = "xl/workbook.xml";
            kind = MainKind::Workbook;
        }
    }
    switch (kind) {
        case MainKind::Workbook:
            return openOoxmlWorkbook(std::move(zip), main);
        case MainKind::Binary:
            throw ReadError(kBinaryWorkbook);
        case MainKind::Text:
            throw ReadError("it is not a workbook: it looks like a text document");
        case MainKind::Presentation:
            throw ReadError("it is not a workbook: it looks like a presentation document");
        case MainKind::Drawing:
            throw ReadError("it is not a workbook: it looks like a drawing document");
        case MainKind::Unknown:
            break;
    }
    throw ReadError(kNoWorkbook);
}

// The reader the package's content asks for.
std::unique_ptr<WorkbookReader> openPackage(std::string bytes) {
    auto zip = std::make_unique<ZipPackage>(std::move(bytes));
    int64_t mimetype = zip->find("mimetype");
    if (mimetype >= 0) {
        std::string type(trimWhiteSpace(zip->read(mimetype, 4096)));
        const std::string_view odf = "application/vnd.oasis.opendocument.";
        if (std::string_view(type).substr(0, odf.size()) == odf) {
            std::string kind = type.substr(odf.size());
            if (is(kind, "spreadsheet") || is(kind, "spreadsheet-template"))
                return openOds(std::move(zip));
            throw ReadError(describeOdf(kind));
        }
    }
    if (zip->has("[Content_Types].xml") || zip->has("_rels/.rels"))
        return openOoxml(std::move(zip));
    if (zip->has("content.xml")) return openOds(std::move(zip));
    if (zip->has("xl/workbook.bin")) throw ReadError(kBinaryWorkbook);
    if (zip->has("xl/workbook.xml")) return openOoxml(std::move(zip));
    throw ReadError(kNoWorkbook);
}

}  // namespace

std::unique_ptr<WorkbookReader> openPackageReader(std::string bytes) {
    size_t fileBytes = bytes.size();
    auto reader = openPackage(std::move(bytes));
    reader->sheetBudget = SheetCells::budgetFor(fileBytes);
    return reader;
}

}  // namespace kordb
