// The parameter description (veltra_params.conf): which parameters exist, how they are grouped and
// what each one's attributes say, read from its places in order (a later file adds to and overrides
// an earlier one), and the checks of configuration values against it.
#pragma once

#include "LuHash.h"
#include "param_values.h"

#include <QList>
#include <QSet>
#include <QStringList>

extern const QString DescriptionName; // "veltra_params.conf"

// An entry of a "__GROUPS" or "params" list is skipped when it is empty or a comment.
bool IgnoredEntry(const QString &entry);
// The entries of a list attribute: separated by any of blank, ",", ";", "|".
QStringList ListEntries(const QString &list);
// The attributes of a description block.
TLuHash AttributesOf(const QString &block);

// Loads the description files found in `folders` (each folder ends with its separator), in order.
void LoadParamsDescription(TLuHash &description, const QStringList &folders);
// The tree the description lays out, in display order: its groups (in "__GROUPS" order) with the
// parameters each lists, then the parameters no group lists, in their first-definition order.
struct TParamsLayoutEntry {
    QString key;
    bool isGroup = false;
    QStringList params; // of a group
};
QList<TParamsLayoutEntry> ParamsTreeLayout(const TLuHash &description);
// Every parameter key the description places: those its groups list and those outside any group.
QSet<QString> DescribedParams(const TLuHash &description);

// Where the description contradicts itself: a number range whose min is above its max (no range is
// checked then), a check map that reads more flags than it has items. One text per problem.
QStringList DescriptionProblems(const TLuHash &description);

// Why a value would not be accepted by its parameter's editor; vcOk when it would. "NOT USE" always is.
enum TValueCheck { vcOk, vcNotAnItem, vcNotANumber, vcOutOfRange, vcNotAnIpAddress, vcNotADuration,
                   vcNotFlags, vcTooLong };
TValueCheck CheckParamValue(const TLuHash &attrs, const QString &value);
// The reason in words (English, or Russian for the window), with the limits the attributes set.
QString ValueCheckText(TValueCheck check, const TLuHash &attrs, bool russian = false);

// Whether loading a configuration file marks this entry for writing: keys starting with "_" are the
// device's own, and "NOT USE" stands for a parameter the device does not use.
bool WrittenByLoad(const QString &key, const QString &value);

// One key=value entry of a configuration file, with the line it stands on (from 1).
struct TConfigEntry {
    int line = 0;
    QString key;
    QString value;
};
// The entries of a configuration file's text, read line by line as a load reads them.
QList<TConfigEntry> ConfigEntries(const QString &text);

struct TConfigProblem {
    TConfigEntry entry;
    QString reason;
};
// What a write of these entries would send that the description does not know or would not accept.
// Keys starting with "_" are the device's own and "NOT USE" is never sent: neither is checked.
QList<TConfigProblem> CheckConfigEntries(const QList<TConfigEntry> &entries, const TLuHash &description);

// A parameter whose value on the device differs from a configuration file's, as a load would see it:
// on one side only (the other value empty and `on...` false) or on both with different values.
struct TConfigDifference {
    QString key;
    QString deviceValue;
    QString fileValue;
    bool onDevice = true;
    bool inFile = true;
};
// In the device's order, then the file's keys the device does not have.
QList<TConfigDifference> CompareConfigs(const TLuHash &device, const TLuHash &file);
