#include "dnc/EventTable.h"

#include <QHash>

namespace nodalis {

namespace {

// Markers filled in by EventText: %P0% %P1% the event parameters, %MO% the
// machine reference, %HOST% %PORT% the control link's server, %RHOST%
// %RPORT% the IP-serial converter, %IDX% the called program's index.
const QHash<int, const char16_t*>& table()
{
    static const QHash<int, const char16_t*> texts = {
        // Port and general
        {901, u"Lancement du Port DNC"},
        {902, u"Arret du Port DNC"},
        {903, u"Envoi terminé..."},
        {904, u"Fermeture du port : Re-connexion du Port DNC au serveur %HOST% du socket %PORT%"},
        {905, u"Connexion du Port DNC au serveur %HOST% du socket %PORT%"},
        {906, u"Le Port DNC est en écoute..."},
        {907, u"Erreur pendant l'envoi du programme"},
        {908, u"Erreur pendant la réception du programme"},
        {909, u"Erreur pendant l'ouverture du fichier %P0%"},
        {910, u"Vérification de la syntaxe du programme à envoyer..."},
        {911, u"...Syntaxe du programme correcte"},
        {912, u"...Syntaxe du programme incorrecte"},
        {920, u"Erreur de syntaxe: Fin de ligne incorrect !"},
        {921, u"Erreur de syntaxe: Bloc trop long !"},
        {922, u"Erreur de syntaxe: Bloc de départ absent ou erroné !"},
        {923, u"Erreur de syntaxe: Bloc de fin absent ou erroné !"},
        {924, u"Erreur de syntaxe: Caractère numéro de programme absent ou erroné !"},
        {950, u"Pré-filtrage du programme à envoyer effectué..."},
        {951, u"Post-filtrage du programme reçu effectué..."},
        {952, u"Ré-Initialisation du Port DNC..."},
        {953, u"Ré-Activation du Port DNC..."},
        {999, u"%P0%"},

        // Serial control
        {100, u"Initialisation du port Com %P0%"},
        {101, u"Réception en cours sur la ligne RS232..."},
        {102, u"ENVOI d'un programme en mode RS232 sur la CNC %MO%%IDX%"},
        {103, u"Erreur pendant l'initialisation du port Com"},
        {104, u"Le Port DNC est en écoute de la ligne RS232 (irq)..."},
        {105, u"Le Port DNC est en écoute de la ligne RS232 (loop)..."},
        {106, u"Déconnexion détectée : ligne RS232 en attente de DSR... Attente : %P0%sec."},
        {107, u"Arrêt anormal de la transmission sur la ligne RS232."},
        {108, u"Error in FNControlCom232:%P0%"},
        {109, u"Arrêt de la transmission suite au dépassement de TimeOutEnvoi."},
        {110, u"Un signal d'arrêt a été reçu"},
        {111, u"Erreur de délai de TRAITEMENT Détection de porteuse"},
        {112, u"Erreur de délai de TRAITEMENT Prêt à émettre"},
        {113, u"Erreur de délai de TRAITEMENT Modem prêt"},
        {114, u"Erreur de dépassement du délai imparti"},
        {115, u"Données perdues"},
        {116, u"Dépassement de la capacité du tampon de réception"},
        {117, u"Erreur de parité"},
        {118, u"Tampon de transmission plein"},

        // Serial library
        {200, u"Initialisation du port Com %P0%"},
        {201, u"Réception en cours avec l'API sur la ligne RS232..."},
        {202, u"Envoi d'un programme en mode API Meridot sur la CNC %MO%"},
        {203, u"Erreur durant la connexion au Com par l'API"},
        {204, u"Le Port DNC attend les données RS232 avec API..."},
        {205, u"Erreur durant la réception du programme"},
        {206, u"Erreur durant l'envoi du programme"},
        {210, u"Numéro de port invalide ou port non ouvert par avance. (%P1%)"},
        {211, u"L'application ne peut pas contrôler la carte série. (%P1%)"},
        {212, u"Aucune donnée à lire ou buffer de sortie vide. (%P1%)"},
        {213, u"Numéro de port invalide ou port déjà ouvert. (%P1%)"},
        {214, u"RTS can't be set because H/W Flowctrl. (%P1%)"},
        {215, u"Mauvais paramètres. (%P1%)"},
        {216, u"La carte série ne peut pas supporter cette fonction. (%P1%)"},
        {217, u"Write has blocked, and user abort write. (%P1%)"},
        {218, u"Write timeout has happened. (%P1%)"},
        {219, u"Erreur inconnue : %P0% (%P1%)"},
        {220, u"Erreur Win32 : %P0% (%P1%)"},

        // File and folder operations
        {250, u"Envoi du programme \"%P0%\""},
        {251, u"Envoi annulé par l'utilisateur"},
        {252, u"Suppression du programme \"%P0%\" réussie"},
        {253, u"Echec de la suppression du programme \"%P0%\""},
        {254, u"Création du répertoire \"%P0%\""},
        {255, u"Impossible de créer le répertoire \"%P0%\""},
        {256, u"Fichier \"%P0%\" renommé en \"%P1%\""},
        {257, u"Impossible de renommer le fichier \"%P0%\""},
        {258, u"Réception du programme \"%P0%\""},
        {259, u"Suppression du dossier \"%P0%\""},
        {260, u"Impossible de supprimer le dossier \"%P0%\""},
        {261, u"Impossible de réceptionner le programme \"%P0%\". Il est absent ou introuvable."},
        {262, u"Listage du répertoire en cours"},
        {263, u"Affichage du répertoire \"%P0%\""},
        {264, u"Génération de l'aperçu du programme \"%P0%\""},
        {265, u"Impossible d'envoyer un programme. Un transfert est en cours"},
        {266, u"Fin d'envoi du programme \"%P0%\""},
        {267, u"Erreur de listage du répertoire. Vérifier la connexion réseau."},
        {268, u"Fin de listage du répertoire %P0%"},
        {269, u"Création du fichier \"%P0%\""},

        // Network and sockets
        {302, u"Envoi d'un programme en mode TCP/IP sur la CNC %MO%"},
        {303, u"Erreur pendant l'initialisation du port Com"},
        {305, u"! Déconnexion du port de données..."},
        {306, u"< Données reçues sur le port de données"},
        {307, u"! Erreur tcpComData n° %P0%"},
        {308, u"! Déconnexion du port FTP..."},
        {309, u"! Connexion au port FTP"},
        {310, u">CN>%P0%"},
        {311, u">PC>%P0%"},
        {312, u"! Erreur tcpComTCP n° %P0%:%P1%"},
        {313, u"Erreur de login, utilisateur ou mot de passe incorrect !"},
        {314, u"Fichier non présent sur le serveur FTP !"},

        // Copy/paste and MAZAK FUSION
        {351, u"Réception en cours en mode copier/coller..."},
        {352, u"Envoi d'un programme en mode copier/coller sur la CNC %MO%"},
        {355, u"Le dossier d'envoi n'existe pas sur la CNC"},
        {356, u"Le dossier de réception n'existe pas sur la CNC"},
        {357, u"Le fichier de destination du programme existe déjà sur la CNC"},
        {358, u"Le fichier source du programme n'existe pas sur la CNC"},
        {360, u"Le fichier Index.tlb est introuvable !"},
        {361, u"Réception en cours en mode copier/coller sur la MAZAK FUSION %MO%"},
        {362, u"Envoi d'un programme en mode copier/coller sur la MAZAK FUSION %MO%"},
        {364, u"Le Port DNC est en écoute du réseau..."},
        {365, u"Le fichier du programme à remonter n'existe pas sur la CNC"},

        // IP-serial
        {381, u"Réception en cours en mode IP Serial..."},
        {382, u"Envoi d'un programme en mode IP Serial sur la CNC %MO%"},
        {384, u"Le Port DNC est en écoute IP Serial du réseau..."},
        {385, u"Connexion du Port DNC au serveur IP Serial %RHOST% du socket %RPORT%"},
        {388, u"Déconnexion du Port DNC au serveur IP Serial"},

        // Mazatrol
        {402, u"Envoi d'un programme en mode Mazatrol sur la MO %MO%"},
        {403, u"Erreur durant la connexion au Com par le Conversationnel Mazatrol"},
        {404, u"Le Port DNC est en écoute Mazatrol de la ligne RS232..."},
        {405, u"Pré-traitement Mazatrol du programme à envoyer en cours..."},
        {406, u"Post-traitement Mazatrol du programme reçu en cours..."},
        {407, u"...Identification d'un programme hybride Mazatrol et Iso"},
        {408, u"...Identification d'un programme Mazatrol"},
        {409, u"...Identification d'un programme ISO"},
        {410, u">PC> %P0%"},
        {411, u"Conversion du Mazatrol vers l'Iso réalisée avec succès"},
        {412, u"Conversion de l'Iso vers vers le Mazatrol réalisée avec succès"},
        {413, u">CN> %P0%"},

        // Calls
        {500, u"L'opération a échoué car le programme est introuvable en BD et en fichier"},
        {501, u"L'opération a échoué car le programme (%P0%) est introuvable en fichier"},
        {502, u"L'opération a échoué car le programme se trouve déjà dans la liste des "
              u"'Programmes remontés' (%P0%)"},
        {503, u"APPEL du programme %P0%"},
        {504, u"APPEL d'un fichier de jauges"},
        {505, u"Erreur durant la copie en local du fichier à envoyer"},
        {506, u"L'opération a échoué car le fichier contenant le programme est introuvable (%P0%)"},
        {507, u"L'opération a réussi"},
        {508, u"Envoi annulé suite à un arrêt de la transmission ou à une erreur de syntaxe dans "
              u"la partie OPTIONNELLE de l'appel d'un programme"},
        {509, u"L'opération a échoué car le programme (%P0%) est introuvable en BD"},
        {510, u"Le Port DNC attend %P0% sec..."},
        {511, u"Le Port DNC attend que la CNC passe en mode réception..."},
        {512, u"Le temps d'attente a dépassé les %P0% sec... Arrêt automatique de la transmission"},
        {513, u"L'opération a échoué car le mode réception de la CNC n'a pas été détecté au bout "
              u"de %P0% sec."},
        {514, u"L'opération a échoué car le programme se trouve déjà sur la Machine (%P0%)"},
        {515, u"L'opération a échoué car le programme appelé se trouve plusieurs fois en base de "
              u"données (%P0%)"},
        {516, u"L'opération a échoué car le programme appelé n'est pas autorisé à être "
              u"téléchargé (%P0%)"},
        {517, u"L'opération a échoué car les programmes n'ont pas été remontés avant appel"},
        {550, u"programme %P0% introuvable en BD et fichier"},
        {551, u"fichier introuvable"},
        {552, u"programme %P0% deja remonte"},
        {553, u"plusieurs programmes %P0% trouves"},
        {554, u"programme %P0% non telechargeable"},
        {555, u"erreur fichier copie en local"},
        {556, u"sauvegarde des programmes obligatoire avant appel"},
        {559, u"programme %P0% introuvable en BD"},
        {564, u"programme %P0% deja en machine"},

        // USB, folders, transfers
        {600, u"Aucune clef USB connectée"},
        {601, u"Transfert USB terminé"},
        {630, u"Programme Copié vers le dossier cible"},
        {650, u"Surveillance du dossier encours"},
        {651, u"Erreur d'envoi. Veuillez réessayer."},
        {680, u"Ecoute du port LSV2 AGIE"},
        {681, u"Enregistrement du fichier sur %P0%"},
        {682, u"Transfert du fichier %P0%"},
        {683, u"Transfert terminé"},
        {690, u"Ecoute du boitier PTR"},
        {691, u"Transfert terminé"},

        // Uploads
        {700, u"REMONTEE d'un programme"},
        {701, u"L'opération a réussi : le programme a été remonté et trouvé en BD"},
        {702, u"L'opération a réussi : le programme a été remonté mais non trouvé en BD"},
        {703, u"L'opération a réussi"},
        {704, u"Réception de bruit sur la ligne... Filtrage"},
        {705, u"... détail du bruit : %P0%"},
        {706, u"L'opération a réussi : le programme a été remplacé en BD"},
        {707, u"L'opération a réussi : le programme a été remplacé en fichier"},
        {708, u"L'opération a réussi : le programme a été filtré par comparaison en BD"},
        {709, u"L'opération a échoué : le programme n'a pas été filtré par comparaison "
              u"(différences avec original)"},
        {710, u"L'opération a échoué : le programme n'a pas été remplacé (programme original "
              u"introuvable)"},
        {711, u"Numéro de programme remonté : %P0%"},
        {712, u"L'opération a réussi : le programme %P0% a été enregistré."},
        {713, u"Erreur lors de la remontée du programme"},

        // Remote serial server
        {750, u"Erreur de connexion réseau avec le serveur..."},
        {751, u"Vérifier que le Nodaliseur est bien lancé sur le serveur..."},
        {752, u"Transfert en cours. Veuillez réessayer ultérieurement."},
        {753, u"Envoi d'un programme par Serveur RS232"},
        {754, u"Attente de réponse du Serveur RS232"},
        {755, u"Envoi en cours depuis le Serveur RS232"},

        // LSV2
        {802, u"Envoi d'un programme en mode LSV2 sur la MO %MO%"},
        {803, u"Erreur durant la connexion au Com par le Conversationnel LSV2"},
        {804, u"Le Port DNC est en écoute LSV2 Serveur de la ligne RS232..."},
        {805, u"Le Port DNC est en écoute LSV2 Client de la ligne RS232..."},
        {810, u">PC(NORM)> %P0%"},
        {811, u">PC(LIST)> %P0%"},
        {813, u">CN(NORM)> %P0%"},
        {814, u">CN(LIST)> %P0%"},

        // Psion DB gateway
        {851, u"Réception en cours en mode Psion - DB Gateway..."},
        {852, u"Envoi d'un programme en mode Psion - DB Gateway pour la CNC %MO%"},
        {855, u"Le dossier d'envoi n'existe pas"},
        {856, u"Le dossier de réception n'existe pas"},
        {857, u"Suppression impossible du fichier FROMPSION (%P0%)"},
        {858, u"Erreur lors de la copie locale du fichier FROMPSION (%P0%)"},
        {864, u"Le Port DNC est en écoute du Psion sur le réseau..."},
        {865, u"Le fichier du programme à remonter n'existe pas sur la CNC"},
    };
    return texts;
}

} // namespace

QString EventTemplate(int code)
{
    const auto it = table().constFind(code);
    return it == table().constEnd() ? QString() : QString::fromUtf16(*it);
}

} // namespace nodalis
