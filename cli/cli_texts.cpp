#include "cli_texts.h"

#include "console.h"

namespace {

struct Texts {
    const char* english;
    const char* german;
};

constexpr Texts kTexts[] = {
    {"Unknown command: %s", "Unbekannter Befehl: %s"},
    {"Unknown option: %s", "Unbekannte Option: %s"},
    {"Missing argument: %s", "Fehlendes Argument: %s"},
    {"Invalid %s: %s", "Ungültige Angabe für %s: %s"},
    {"Too many arguments: %s", "Zu viele Argumente: %s"},
    {"See velomar --help.", "Siehe velomar --help."},
    {"Node %s does not answer.", "Knoten %s antwortet nicht."},
    {"No EDS file for node %s: give one with --eds FILE.", "Keine EDS-Datei für Knoten %s: mit --eds DATEI angeben."},
    {"%s devices answered the LSS find: exactly one must take part.",
     "%s Geräte haben auf die LSS-Suche geantwortet: genau eines darf teilnehmen."},
    {"The LSS services cannot run now.", "Die LSS-Dienste können jetzt nicht laufen."},
    {"Cannot open %s.", "Kann %s nicht öffnen."},
    {"Read All ended after %s of %s entries.", "Alle lesen endete nach %s von %s Einträgen."},
    {"Communication could not be started.", "Die Kommunikation konnte nicht gestartet werden."},
    {"The node has no output PDO %s.", "Der Knoten hat kein Ausgangs-PDO %s."},
    {"Node-ID %s set; it takes effect at the end of the LSS commands.",
     "Node-ID %s gesetzt; sie wird am Ende der LSS-Befehle wirksam."},
    {"%s Yes.", "%s Ja."},
    {"%s No.", "%s Nein."},
    {"Defaults restored: %s. Node %s was reset: they are in effect.",
     "Standardwerte hergestellt: %s. Knoten %s wurde zurückgesetzt: sie gelten jetzt."},
    {"Unknown dcf action: %s (save or load).", "Unbekannte dcf-Aktion: %s (save oder load)."},
    {"%s does not belong to %s.", "%s gehört nicht zu %s."},
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<std::size_t>(CliText::Count_), "a text for each");

}  // namespace

const char* CliTextIn(CliText text, bool german)
{
    const Texts& texts = kTexts[static_cast<std::size_t>(text)];
    return german ? texts.german : texts.english;
}

std::string CliMessage(CliText text, std::initializer_list<std::string_view> arguments)
{
    return FillText(CliTextIn(text, TheConsole().language == TextLanguage::German), arguments);
}
