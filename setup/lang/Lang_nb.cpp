// Norwegian (Bokmål). The Accept and Join boxes and the two links after them
// read as one sentence each. The table has no rows for the setup-file download text
// and the word "official", which therefore stay English.
#include "LangTables.h"

namespace {

const LangEntry kRows[] = {
    {0, L"Installer"},
    {1, L"Tilpass"},
    {4, L"Opprett snarvei på skrivebordet"},
    {5, L"Opprett snarvei på Start-menyen"},
    {6, L"Kjør automatisk ved oppstart av systemet"},
    {9, L"Start __PRODUCT_NAME__"},
    {10, L"Er du sikker på at du vil avbryte installasjonen av __PRODUCT_NAME__?"},
    {11, L"OK"},
    {12, L"Avbryt"},
    {13, L"Installasjonen kan ikke fortsette fordi Quillon allerede kjører. Lukk Quillon og prøv igjen, eller tving det til å avslutte."},
    {14, L"Prøv igjen"},
    {15, L"Tving avslutning"},
    {16, L"Opprett et hurtigstartikon"},
    {2, L"Godta"},
    {3, L"lisensavtalen"},
    {7, L"Delta"},
    {8, L"i programmet for forbedring av brukeropplevelsen"},
    {28, L"Windows XP støttes ikke lenger."},
    {29, L"Windows Vista støttes ikke lenger."},
    {30, L"__PRODUCT_NAME__ støtter ikke operativsystemet ditt."},
    {18, L"Nyheter"},
    {19, L"Ja"},
    {20, L"Nei"},
    {32, L"Det er ikke nok ledig plass på den valgte stasjonen."},
    {31, L"Installasjonsbanen er ugyldig."},
    {22, L"Er du sikker på at du vil avinstallere?"},
    {23, L"Avinstaller"},
    {24, L"Behold de personlige innstillingene mine."},
    {25, L"Avinstallerer..."},
    {26, L"Avinstalleringen er fullført! Takk for støtten!"},
    {27, L"Fullfør"},
    {17, L"Velg en mappe fra listen nedenfor, og klikk deretter OK."},
    {33, L"Oisann! Denne versjonen av __PRODUCT_NAME__ fungerer bare på 64-biters operativsystemer. Last ned og installer 32-biters versjonen."},
    {34, L"__PRODUCT_NAME__ fungerer foreløpig bare på 64-biters Windows."},
    {35, L"Avinstaller"},
    {36, L" – avinstallering"},
    {37, L" – program"},
    {38, L" på nett"},
    {39, L" – nettsted"},
    {40, L"Du må starte datamaskinen på nytt for å installere den nye versjonen. Vil du fortsette?"},
    {41, L"Start på nytt nå"},
    {42, L"Nedlastingen mislyktes. Prøv igjen, eller last ned det frittstående installasjonsprogrammet fra www.tarvex.com."},
    {43, L"Det nettbaserte installasjonsprogrammet er utdatert. Last ned den nyeste versjonen fra www.tarvex.com."},
    {44, L"Laster ned..."},
    {45, L"Kontrollerer data, vent litt..."},
    {46, L"Henter nedlastingsinformasjon..."},
    {47, L"__PRODUCT_NAME__ på nett"},
    {48, L"Avinstaller __PRODUCT_NAME__"},
    {21, L"Installerer..."},
    {49, L"Start"},
    {50, L"Installasjonen starter automatisk om XXX sekunder."},
};

}  // namespace

extern const LangTable kLangTableNorwegian = {kRows, sizeof(kRows) / sizeof(kRows[0])};
