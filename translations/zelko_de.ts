<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AboutPage</name>
    <message>
        <source>Sending…</source>
        <translation>Wird gesendet…</translation>
    </message>
    <message>
        <source>The feedback service sent an answer that could not be read.</source>
        <translation>Der Feedback-Dienst hat eine Antwort gesendet, die nicht gelesen werden konnte.</translation>
    </message>
    <message>
        <source>Feedback not sent: %1</source>
        <translation>Feedback nicht gesendet: %1</translation>
    </message>
    <message>
        <source>About Zelko</source>
        <translation>Über Zelko</translation>
    </message>
    <message>
        <source>(not reported)</source>
        <translation>(nicht gemeldet)</translation>
    </message>
    <message>
        <source>Feedback</source>
        <translation>Feedback</translation>
    </message>
    <message>
        <source>Tell us what you think</source>
        <translation>Sagen Sie uns Ihre Meinung</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>This client</source>
        <translation>Dieser Client</translation>
    </message>
    <message>
        <source>Product</source>
        <translation>Produkt</translation>
    </message>
    <message>
        <source>Channel</source>
        <translation>Kanal</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>This device</source>
        <translation>Dieses Gerät</translation>
    </message>
    <message>
        <source>System</source>
        <translation>System</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>System version</source>
        <translation>Systemversion</translation>
    </message>
    <message>
        <source>Kernel</source>
        <translation>Kernel</translation>
    </message>
    <message>
        <source>IMEI</source>
        <translation>IMEI</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Write your feedback first.</source>
        <translation>Schreiben Sie zuerst Ihre Rückmeldung.</translation>
    </message>
    <message>
        <source>Thank you for your feedback.</source>
        <translation>Danke für Ihre Rückmeldung.</translation>
    </message>
</context>
<context>
    <name>DetailsPage</name>
    <message>
        <source>Section</source>
        <translation>Bereich</translation>
    </message>
    <message>
        <source>Architecture</source>
        <translation>Architektur</translation>
    </message>
    <message>
        <source>Installed size</source>
        <translation>Installierte Größe</translation>
    </message>
    <message>
        <source>%1 KiB</source>
        <translation>%1 KiB</translation>
    </message>
    <message>
        <source>Maintainer</source>
        <translation>Betreuer</translation>
    </message>
    <message>
        <source>Homepage</source>
        <translation>Webseite</translation>
    </message>
    <message>
        <source>Depends on</source>
        <translation>Hängt ab von</translation>
    </message>
    <message>
        <source>&lt;b&gt;%1:&lt;/b&gt; %2</source>
        <translation>&lt;b&gt;%1:&lt;/b&gt; %2</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Loading the package</source>
        <translation>Das Paket wird geladen</translation>
    </message>
</context>
<context>
    <name>PageHeader</name>
    <message>
        <source>‹ Back</source>
        <translation>‹ Zurück</translation>
    </message>
</context>
<context>
    <name>Protocol</name>
    <message>
        <source>The search service did not answer in time.</source>
        <translation>Der Suchdienst hat nicht rechtzeitig geantwortet.</translation>
    </message>
    <message>
        <source>The search service could not be reached, or its answer could not be read.</source>
        <translation>Der Suchdienst war nicht erreichbar, oder seine Antwort konnte nicht gelesen werden.</translation>
    </message>
    <message>
        <source>Search cancelled.</source>
        <translation>Suche abgebrochen.</translation>
    </message>
    <message>
        <source>The search service sent an empty answer.</source>
        <translation>Der Suchdienst hat eine leere Antwort gesendet.</translation>
    </message>
    <message>
        <source>The request to the search service failed.</source>
        <translation>Die Anfrage an den Suchdienst ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Unexpected failure (code %1).</source>
        <translation>Unerwarteter Fehler (Code %1).</translation>
    </message>
    <message>
        <source>The service could not read the query.</source>
        <translation>Der Dienst konnte die Anfrage nicht lesen.</translation>
    </message>
    <message>
        <source>The service rejected the query&apos;s signature.</source>
        <translation>Der Dienst hat die Signatur der Anfrage abgelehnt.</translation>
    </message>
    <message>
        <source>The service does not offer this kind of query.</source>
        <translation>Der Dienst bietet diese Art von Anfrage nicht an.</translation>
    </message>
    <message>
        <source>The package is not installed.</source>
        <translation>Das Paket ist nicht installiert.</translation>
    </message>
    <message>
        <source>The service failed while answering.</source>
        <translation>Beim Antworten ist im Dienst ein Fehler aufgetreten.</translation>
    </message>
    <message>
        <source>The service reported error %1.</source>
        <translation>Der Dienst hat Fehler %1 gemeldet.</translation>
    </message>
</context>
<context>
    <name>SearchPage</name>
    <message>
        <source>Zelko</source>
        <translation>Zelko</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Search installed packages</source>
        <translation>Installierte Pakete durchsuchen</translation>
    </message>
    <message>
        <source>Search query</source>
        <translation>Suchbegriff</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Recent</source>
        <translation>Zuletzt</translation>
    </message>
    <message>
        <source>Search again for “%1”</source>
        <translation>Erneut nach „%1“ suchen</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Searching…</source>
        <translation>Suche läuft…</translation>
    </message>
    <message>
        <source>1 package for “%1”</source>
        <translation>1 Paket für „%1“</translation>
    </message>
    <message>
        <source>%1 packages for “%2”</source>
        <translation>%1 Pakete für „%2“</translation>
    </message>
    <message>
        <source>No installed package matches “%1”.</source>
        <translation>Kein installiertes Paket passt zu „%1“.</translation>
    </message>
    <message>
        <source>Results</source>
        <translation>Ergebnisse</translation>
    </message>
    <message>
        <source>Recent searches</source>
        <translation>Letzte Suchen</translation>
    </message>
    <message>
        <source>A query has at most %1 characters.</source>
        <translation>Eine Anfrage hat höchstens %1 Zeichen.</translation>
    </message>
    <message>
        <source>More results</source>
        <translation>Weitere Ergebnisse</translation>
    </message>
    <message>
        <source>Check the spelling, or search for a part of the name.</source>
        <translation>Prüfen Sie die Schreibweise, oder suchen Sie nach einem Teil des Namens.</translation>
    </message>
    <message>
        <source>Scroll position</source>
        <translation>Bildlaufposition</translation>
    </message>
    <message>
        <source>Loading more results</source>
        <translation>Weitere Ergebnisse werden geladen</translation>
    </message>
</context>
<context>
    <name>ZelkoApp</name>
    <message>
        <source>Zelko</source>
        <translation>Zelko</translation>
    </message>
</context>
</TS>
