#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>
#include <vector>

// A small read-only document tree over QXmlStreamReader, with XPath-style
// selection of element paths ("/tumblr/posts/post", "photo-caption", "tag")
// and attributes ("@id"). The document is decoded by its declared encoding;
// no external entity is fetched, entity expansion and nesting are bounded.
struct XMLNodeData {
    bool isAttribute = false;
    QString name;
    QString text;                       // attribute value, or the element's own character data
    QString innerXml;                   // an element holding elements: its content as it stands in the document
    bool hasChildElements = false;
    qint64 contentStart = 0;            // character offsets in the decoded document: after the start tag,
    qint64 contentEnd = 0;              // after the end tag
    QList<QPair<QString, QString>> attributes;
    std::vector<std::unique_ptr<XMLNodeData>> children; // elements only, in document order
    XMLNodeData *parent = nullptr;
    mutable std::vector<std::unique_ptr<XMLNodeData>> attributeNodes; // created on demand
};

class XMLNodeList;

class XMLNode
{
public:
    XMLNode() = default;
    explicit XMLNode(const XMLNodeData *data) : m_data(data) {}

    bool isNull() const { return m_data == nullptr; }
    QString name() const;
    QString Text() const; // empty for a null node
    // The content as it stands in the document, markup of child elements
    // included; for an element holding only text, its text.
    QString InnerXml() const;
    XMLNodeList SelectNodes(const QString &path) const;
    XMLNode SelectSingleNode(const QString &path) const; // null when nothing matches
    XMLNode GetNamedItem(const QString &attributeName) const; // Attributes().GetNamedItem

private:
    const XMLNodeData *m_data = nullptr;
};

class XMLNodeList
{
public:
    int Length() const { return int(m_nodes.size()); }
    XMLNode Item(int index) const { return index >= 0 && index < Length() ? m_nodes[index] : XMLNode(); }
    void append(const XMLNode &node) { m_nodes.append(node); }

private:
    QList<XMLNode> m_nodes;
};

class XMLDocument
{
public:
    struct ParseErrorInfo {
        long Number = 0;
        long Line = 0;
        long LinePos = 0;
        QString Reason;
    };

    XMLDocument();
    ~XMLDocument();

    bool Load(const QString &path);          // parses a file
    bool LoadXML(const QByteArray &text);    // parses bytes (decoded by the declaration)
    const ParseErrorInfo &ParseError() const { return m_error; }
    XMLNode Root() const;                    // the document node: absolute paths start here
    QString NodeText(const XMLNode &node) const { return node.Text(); }

private:
    std::unique_ptr<XMLNodeData> m_root;
    ParseErrorInfo m_error;
};
