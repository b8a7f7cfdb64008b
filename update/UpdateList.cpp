#include "UpdateList.h"

#include "DownloadLink.h"
#include "LeadingNumber.h"

#include <plist/plist.h>

#include <limits>
#include <memory>

namespace {
struct PlistFree
{
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// The text of a string node; nothing for any other kind of node.
std::optional<QString> stringOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(node, &length);  // owned by the node
    if (!text)
        return QString();
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

QString stringAt(plist_t dictionary, const char *key)
{
    return stringOf(plist_dict_get_item(dictionary, key)).value_or(QString());
}
}

std::optional<UpdateList> UpdateList::fromXml(const QByteArray &xml, const QString &notesKey)
{
    if (xml.isEmpty() || xml.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &parsed);
    const PlistPtr root(parsed);
    if (!root || plist_get_node_type(parsed) != PLIST_DICT)
        return std::nullopt;

    const std::optional<QString> version = stringOf(plist_dict_get_item(parsed, "lastVersion"));
    if (!version)
        return std::nullopt;

    UpdateList list;
    list.lastVersion = *version;
    list.dateSortie = stringAt(parsed, "dateSortie");
    list.sysMin = stringAt(parsed, "sysMin");
    list.tailleTotale = stringAt(parsed, "tailleTotale");
    list.link = stringAt(parsed, "link");
    if (!DownloadLink::isAcceptable(list.link))
        return std::nullopt;

    const QByteArray key = notesKey.toUtf8();
    const plist_t notes = key.isEmpty() ? nullptr : plist_dict_get_item(parsed, key.constData());
    if (notes && plist_get_node_type(notes) == PLIST_ARRAY) {
        const uint32_t count = plist_array_get_size(notes);
        for (uint32_t i = 0; i < count; ++i) {
            if (const std::optional<QString> line = stringOf(plist_array_get_item(notes, i)))
                list.notes << *line;
        }
    }
    return list;
}

double UpdateList::totalSize() const
{
    return LeadingNumber::readDouble(tailleTotale);
}
