#pragma once
#include <QString>

// The account and blog a posts window works on, handed over by "Proceed".
struct Account {
    QString groupName; // the blog's host name
    QString email;
    QString password;
};
