#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

struct HTTPRequestData;

// The same requests made by curl, one after the other on one kept-alive
// connection: what the transport allows, against which the program is measured.
struct CurlRun {
    double seconds = 0;
    int answered = 0;  // answers with the expected status
    int requests = 0;
    QString error;     // curl missing or failing
    bool ok() const { return error.isEmpty() && answered == requests; }
};

// The status each request must be answered with: a read's 200, else `status`.
int expectedStatus(const HTTPRequestData &request, int status);
CurlRun runCurl(const QList<HTTPRequestData> &requests, int expectedStatus);
