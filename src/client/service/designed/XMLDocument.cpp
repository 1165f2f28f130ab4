#include "client/service/designed/XMLDocument.h"

#include <QFile>
#include <QStringView>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <optional>

namespace {
// Bounds that no page of the service comes near, so a hostile document
// fails fast instead of eating memory or stack.
constexpr int MaxDepth = 256;
constexpr int MaxEntityExpansion = 10000;
constexpr qint64 ExtraTextAllowance = 1 << 16;

const XMLNodeData *documentOf(const XMLNodeData *node)
{
    while (node->parent)
        node = node->parent;
    return node;
}

const XMLNodeData *attributeNode(const XMLNodeData *element, QStringView name)
{
    for (const auto &node : element->attributeNodes) {
        if (node->name == name)
            return node.get();
    }
    for (const auto &[attrName, value] : element->attributes) {
        if (attrName == name) {
            auto node = std::make_unique<XMLNodeData>();
            node->isAttribute = true;
            node->name = attrName;
            node->text = value;
            node->parent = const_cast<XMLNodeData *>(element);
            element->attributeNodes.push_back(std::move(node));
            return element->attributeNodes.back().get();
        }
    }
    return nullptr;
}

// Steps of a path: element names, "." , and "@name" as the last step.
void select(const XMLNodeData *start, const QString &path, XMLNodeList *all, const XMLNodeData **first)
{
    if (!start || path.isEmpty())
        return;
    QStringView rest(path);
    if (rest.startsWith(u'/')) {
        start = documentOf(start);
        rest = rest.mid(1);
    }
    const QList<QStringView> steps = rest.split(u'/');
    std::vector<const XMLNodeData *> current{start};
    std::vector<const XMLNodeData *> next;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QStringView step = steps.at(i);
        const bool last = i + 1 == steps.size();
        next.clear();
        if (step.isEmpty())
            return; // "//" and a trailing "/" are not supported
        if (step == u".") {
            continue;
        }
        if (step.startsWith(u'@')) {
            if (!last)
                return;
            const QStringView name = step.mid(1);
            for (const XMLNodeData *node : current) {
                if (node->isAttribute || !node->parent)
                    continue;
                if (const XMLNodeData *attr = attributeNode(node, name)) {
                    if (first) {
                        *first = attr;
                        return;
                    }
                    all->append(XMLNode(attr));
                }
            }
            return;
        }
        for (const XMLNodeData *node : current) {
            for (const auto &child : node->children) {
                if (step == u"*" || child->name == step) {
                    if (last && first) {
                        *first = child.get();
                        return;
                    }
                    next.push_back(child.get());
                }
            }
        }
        current.swap(next);
        if (current.empty())
            return;
    }
    if (first) {
        if (!current.empty())
            *first = current.front();
        return;
    }
    for (const XMLNodeData *node : current)
        all->append(XMLNode(node));
}
}

QString XMLNode::name() const { return m_data ? m_data->name : QString(); }

QString XMLNode::Text() const { return m_data ? m_data->text : QString(); }

QString XMLNode::InnerXml() const
{
    if (!m_data)
        return {};
    return m_data->hasChildElements ? m_data->innerXml : m_data->text;
}

XMLNodeList XMLNode::SelectNodes(const QString &path) const
{
    XMLNodeList list;
    select(m_data, path, &list, nullptr);
    return list;
}

XMLNode XMLNode::SelectSingleNode(const QString &path) const
{
    const XMLNodeData *found = nullptr;
    select(m_data, path, nullptr, &found);
    return XMLNode(found);
}

XMLNode XMLNode::GetNamedItem(const QString &attributeName) const
{
    if (!m_data || m_data->isAttribute || !m_data->parent)
        return XMLNode();
    return XMLNode(attributeNode(m_data, attributeName));
}

XMLDocument::XMLDocument()
    : m_root(std::make_unique<XMLNodeData>())
{
}

XMLDocument::~XMLDocument() = default;

XMLNode XMLDocument::Root() const { return XMLNode(m_root.get()); }

bool XMLDocument::Load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_root = std::make_unique<XMLNodeData>();
        m_error = ParseErrorInfo();
        m_error.Number = QXmlStreamReader::CustomError;
        m_error.Reason = QStringLiteral("The file could not be read: %1").arg(file.errorString());
        return false;
    }
    return LoadXML(file.readAll());
}

namespace {
// The content of elements holding elements, cut from the document decoded the
// way the reader decoded it. Where the cut does not sit between the element's
// tags (an encoding the decoder here does not know), the element keeps only
// its character data.
void keepInnerXml(const QByteArray &bytes, const QString &declared, const std::vector<XMLNodeData *> &elements)
{
    for (XMLNodeData *element : elements)
        element->innerXml = element->text;
    std::optional<QStringConverter::Encoding> encoding =
        declared.isEmpty() ? QStringConverter::encodingForData(bytes) : QStringConverter::encodingForName(declared.toLatin1());
    if (!encoding && declared.isEmpty())
        encoding = QStringConverter::Utf8;
    if (!encoding)
        return;
    QStringDecoder decoder(*encoding);
    QString source = decoder(bytes);
    if (source.startsWith(QChar::ByteOrderMark))
        source.remove(0, 1);
    for (XMLNodeData *element : elements) {
        // The reader's offsets: just after the start tag, and just after the end tag.
        const qint64 start = element->contentStart;
        const qint64 afterEnd = element->contentEnd;
        const QString endTag = QStringLiteral("</") + element->name;
        const qint64 end = afterEnd > 0 && afterEnd <= source.size() ? source.lastIndexOf(endTag, afterEnd - 1) : -1;
        const bool endTagOnly = end >= 0
            && QStringView(source).mid(end + endTag.size(), afterEnd - end - endTag.size()).trimmed() == u">";
        if (start > 0 && end >= start && endTagOnly && source.at(start - 1) == u'>')
            element->innerXml = source.mid(start, end - start);
    }
}
}

bool XMLDocument::LoadXML(const QByteArray &text)
{
    m_root = std::make_unique<XMLNodeData>();
    m_error = ParseErrorInfo();

    auto document = std::make_unique<XMLNodeData>();
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(false);
    reader.setEntityExpansionLimit(MaxEntityExpansion);

        // A last guard on the size of the tree, should expanded text ever get here.
    const qint64 maxText = qint64(text.size()) * 4 + ExtraTextAllowance;
    qint64 textSize = 0;

    XMLNodeData *current = document.get();
    std::vector<XMLNodeData *> mixed; // elements holding elements
    int depth = 0;
    QString declaredEncoding;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        switch (token) {
        case QXmlStreamReader::StartDocument:
            declaredEncoding = reader.documentEncoding().toString();
            break;
        case QXmlStreamReader::StartElement: {
            if (++depth > MaxDepth) {
                reader.raiseError(QStringLiteral("The document is nested too deeply."));
                break;
            }
            if (current != document.get() && !current->hasChildElements) {
                current->hasChildElements = true;
                mixed.push_back(current);
            }
            auto node = std::make_unique<XMLNodeData>();
            node->name = reader.qualifiedName().toString();
            node->parent = current;
            node->contentStart = reader.characterOffset();
            const QXmlStreamAttributes attributes = reader.attributes();
            node->attributes.reserve(attributes.size());
            for (const QXmlStreamAttribute &attribute : attributes) {
                node->attributes.append({attribute.qualifiedName().toString(), attribute.value().toString()});
                textSize += attribute.value().size();
            }
            current->children.push_back(std::move(node));
            current = current->children.back().get();
            break;
        }
        case QXmlStreamReader::EndElement:
            --depth;
            current->contentEnd = reader.characterOffset();
            if (current->parent)
                current = current->parent;
            break;
        case QXmlStreamReader::Characters:
            if (current != document.get()) {
                const QStringView chars = reader.text();
                textSize += chars.size();
                current->text += chars;
            }
            break;
        case QXmlStreamReader::DTD:
            // The reader expands a whole run of text at once, before any bound
            // of ours could look at it; no page of the service declares
            // entities, so a document that does is refused outright.
            if (!reader.entityDeclarations().isEmpty())
                reader.raiseError(QStringLiteral("The document declares entities, which are not accepted."));
            break;
        case QXmlStreamReader::EntityReference:
            // An entity the reader could not expand (declared external): it is
            // never fetched, and a page that needs it is not usable.
            reader.raiseError(QStringLiteral("The entity \"%1\" cannot be resolved.").arg(reader.name()));
            break;
        default:
            break;
        }
        if (textSize > maxText && !reader.hasError())
            reader.raiseError(QStringLiteral("The document expands to too much text."));
        if (reader.hasError())
            break;
    }

    if (reader.hasError()) {
        m_error.Number = reader.error();
        m_error.Line = long(reader.lineNumber());
        m_error.LinePos = long(reader.columnNumber()) + 1;
        m_error.Reason = reader.errorString();
        return false;
    }
    if (document->children.empty()) {
        m_error.Number = QXmlStreamReader::PrematureEndOfDocumentError;
        m_error.Line = long(reader.lineNumber());
        m_error.LinePos = long(reader.columnNumber()) + 1;
        m_error.Reason = QStringLiteral("The document has no root element.");
        return false;
    }
    if (!mixed.empty())
        keepInnerXml(text, declaredEncoding, mixed);
    m_root = std::move(document);
    return true;
}
