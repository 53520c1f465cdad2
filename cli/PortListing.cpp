#include "PortListing.h"

#include <algorithm>

#include "Text.h"

namespace kordel::cli {

namespace {

std::string JsonOrNull(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

std::string Padded(const std::string& text, int width) {
    return text +
           std::string(static_cast<std::size_t>(std::max(0, width - DisplayWidth(text))), ' ');
}

}  // namespace

PortChoice ChoosePorts(const std::vector<std::string>& arguments, bool all,
                       const std::vector<TPortEntry>& listing) {
    PortChoice choice;
    for (const auto& argument : arguments) {
        const TPortResolution resolution = ResolvePortArgument(argument, listing, all);
        if (!resolution.Error.empty()) return {{}, {}, resolution.Error};
        for (const auto& entry : resolution.Ports) {
            // Two links on one device would fight over it: a port named twice is flashed once.
            const bool named =
                std::any_of(choice.entries.begin(), choice.entries.end(),
                            [&](const TPortEntry& e) { return e.Path == entry.Path; });
            if (named) continue;
            choice.ports.push_back(PortToOpen(entry));
            choice.entries.push_back(entry);
        }
    }
    return choice;
}

std::string IdentityText(const TPortIdentity& identity) {
    if (!identity.IsUsb()) return identity.Kind;
    std::string text = "usb:" + identity.VendorId + ":" + identity.ProductId;
    if (!identity.SerialNumber.empty()) text += " serial:" + identity.SerialNumber;
    if (!identity.Location.empty()) text += " location:" + identity.Location;
    if (!identity.LocationPath.empty()) text += " location:" + identity.LocationPath;
    return text;
}

std::string PortListText(const std::vector<TPortEntry>& ports) {
    if (ports.empty()) return "No serial ports found.\n";
    struct Row {
        std::string name, path, identity, description;
    };
    std::vector<Row> rows;
    int nameWidth = 0, pathWidth = 0, identityWidth = 0;
    for (const auto& p : ports) {
        Row row{TerminalText(p.Name), TerminalText(p.Path), TerminalText(IdentityText(p.Identity)),
                TerminalText(p.Description)};
        nameWidth = std::max(nameWidth, DisplayWidth(row.name));
        pathWidth = std::max(pathWidth, DisplayWidth(row.path));
        identityWidth = std::max(identityWidth, DisplayWidth(row.identity));
        rows.push_back(std::move(row));
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line = Padded(row.name, nameWidth) + "  " + Padded(row.path, pathWidth);
        if (identityWidth > 0) line += "  " + Padded(row.identity, identityWidth);
        if (!row.description.empty()) line += "  " + row.description;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + '\n';
    }
    return text;
}

std::string IdentityJsonFields(const TPortIdentity& identity) {
    return "\"kind\":" + JsonOrNull(identity.Kind) +
           ",\"vendor_id\":" + JsonOrNull(identity.VendorId) +
           ",\"product_id\":" + JsonOrNull(identity.ProductId) +
           ",\"serial_number\":" + JsonOrNull(identity.SerialNumber) +
           ",\"manufacturer\":" + JsonOrNull(identity.Manufacturer) +
           ",\"product\":" + JsonOrNull(identity.Product) +
           ",\"location\":" + JsonOrNull(identity.Location) +
           ",\"location_path\":" + JsonOrNull(identity.LocationPath) +
           ",\"driver\":" + JsonOrNull(identity.Driver);
}

std::string PortListJson(const std::vector<TPortEntry>& ports) {
    std::string text = "{\"event\":\"ports\",\"ports\":[";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const TPortEntry& p = ports[i];
        text += (i ? ",{" : "{");
        text += "\"name\":" + JsonString(p.Name) + ",\"path\":" + JsonString(p.Path) +
                ",\"description\":" + JsonString(p.Description) + "," +
                IdentityJsonFields(p.Identity) + "}";
    }
    return text + "]}\n";
}

}  // namespace kordel::cli
