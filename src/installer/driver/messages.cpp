// Every text the installer shows, in code page 1252. A hex escape swallows every hex digit that
// follows it, so a literal is split where an accent meets one ("cr\xE9\xE9" "e").
#include "driver.h"

const MessageCatalogue messages = {
    {
        "Impossible d'ouvrir le fichier...",
        "Erreur",
        "N'a pu initialiser l'installation.",
        "Le fichier est corrompu. Veuillez obtenir une nouvelle copie de ce fichier.",
        "Ce programme ne peut \xEAtre install\xE9 que par l'Administrateur du Syst\xE8me.",
        "Veuillez ins\xE9rer le disque n\xB0 ",
        "L'archive d'installation n'a pu \xEAtre cr\xE9\xE9" "e.",
        "Cabinet.dll could not be loaded!",
    },
    {
        "Mise \xE0 jour du syst\xE8me:",
        "Veuillez patienter...",
        "Installation compl\xE9t\xE9" "e avec succ\xE8s!",
        "Efface ",
        "Impossible d'ouvrir le fichier...",
        "Erreur",
        "Informations sur la licence...",
        "Pour continuer l'installation, vous devez accepter les termes de cette licence.",
        "J'accepte",
        "Annuler",
        "&Installer",
        "&Quitter",
        "&OK",
        "Erreur d'extraction du fichier(s).",
        "Type de compression inconnu",
        "&Info",
        "  Extraction: ",
        "Impossible de fermer le fichier...",
        "Erreur",
    },
};
