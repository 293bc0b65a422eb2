<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AppDetails</name>
    <message>
        <source>AppDetails</source>
        <translation>Anwendungsdetails</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Application Name</source>
        <translation>Anwendungsname</translation>
    </message>
    <message>
        <source>File Path:</source>
        <translation>Dateipfad:</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation>TextLabel</translation>
    </message>
    <message>
        <source>File Size:</source>
        <translation>Dateigröße:</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>Dateigröße</translation>
    </message>
    <message>
        <source>File Version</source>
        <translation>Dateiversion</translation>
    </message>
    <message>
        <source>File Version info</source>
        <translation>Dateiversion</translation>
    </message>
    <message>
        <source>Product Description:</source>
        <translation>Produktbeschreibung:</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Beschreibung</translation>
    </message>
    <message>
        <source>Product Version:</source>
        <translation>Produktversion:</translation>
    </message>
    <message>
        <source>Product Version</source>
        <translation>Produktversion</translation>
    </message>
    <message>
        <source>Comments:</source>
        <translation>Kommentare:</translation>
    </message>
    <message>
        <source>comments</source>
        <translation>Kommentare</translation>
    </message>
    <message>
        <source>Company Name:</source>
        <translation>Firmenname:</translation>
    </message>
    <message>
        <source>company name</source>
        <translation>Firmenname</translation>
    </message>
    <message>
        <source>Copyright:</source>
        <translation>Copyright:</translation>
    </message>
    <message>
        <source>copyright</source>
        <translation>Copyright</translation>
    </message>
    <message>
        <source>Trademark:</source>
        <translation>Marke:</translation>
    </message>
    <message>
        <source>trademark</source>
        <translation>Marke</translation>
    </message>
    <message>
        <source>Hide Until Active</source>
        <translation>Bis zur Aktivität ausblenden</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>Bytes</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>KB</source>
        <translation>KB</translation>
    </message>
    <message>
        <source>MB</source>
        <translation>MB</translation>
    </message>
</context>
<context>
    <name>Application</name>
    <message>
        <source>Up</source>
        <translation>Hoch</translation>
    </message>
    <message>
        <source>Dn</source>
        <translation>Runter</translation>
    </message>
    <message>
        <source>Application is Blocked.</source>
        <translation>Anwendung ist gesperrt.</translation>
    </message>
    <message>
        <source>Priority: %1</source>
        <translation>Priorität: %1</translation>
    </message>
</context>
<context>
    <name>ApplicationClass</name>
    <message>
        <source>Form</source>
        <translation>Formular</translation>
    </message>
    <message>
        <source>Application Name</source>
        <translation>Anwendungsname</translation>
    </message>
    <message>
        <source>1 - Highest</source>
        <translation>1 - Höchste</translation>
    </message>
    <message>
        <source>2 - High</source>
        <translation>2 - Hoch</translation>
    </message>
    <message>
        <source>3 - Normal</source>
        <translation>3 - Normal</translation>
    </message>
    <message>
        <source>4 - Low</source>
        <translation>4 - Niedrig</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Sperren</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
</context>
<context>
    <name>ApplicationView</name>
    <message>
        <source>Application Control is currently Disabled.
You can re-enable it on the Advanced Panel.</source>
        <translation>Die Anwendungssteuerung ist derzeit deaktiviert.
Sie können sie im Bereich „Erweitert“ wieder aktivieren.</translation>
    </message>
    <message>
        <source>No Corvid Network Devices detected. Application Control is disabled</source>
        <translation>Keine Corvid-Netzwerkgeräte gefunden. Die Anwendungssteuerung ist deaktiviert</translation>
    </message>
    <message>
        <source>ps</source>
        <translation>ps</translation>
    </message>
    <message>
        <source>Restart Program</source>
        <translation>Programm neu starten</translation>
    </message>
    <message>
        <source>%1 is currently running. To see the effects of this priority change you must restart it.</source>
        <translation>%1 läuft gerade. Damit die geänderte Priorität wirkt, müssen Sie das Programm neu starten.</translation>
    </message>
</context>
<context>
    <name>BandwidthBar</name>
    <message>
        <source>MBps</source>
        <translation>MBps</translation>
    </message>
    <message>
        <source>Mbps</source>
        <translation>Mbps</translation>
    </message>
    <message>
        <source>KBps</source>
        <translation>KBps</translation>
    </message>
    <message>
        <source>Kbps</source>
        <translation>Kbps</translation>
    </message>
    <message>
        <source>Bps</source>
        <translation>Bps</translation>
    </message>
    <message>
        <source>bps</source>
        <translation>bps</translation>
    </message>
    <message>
        <source>Blocked</source>
        <translation>Gesperrt</translation>
    </message>
    <message>
        <source>Current %1: %L2 %3</source>
        <translation>Aktuell %1: %L2 %3</translation>
    </message>
    <message>
        <source>Max %1: %L2 %3</source>
        <translation>Max. %1: %L2 %3</translation>
    </message>
</context>
<context>
    <name>FeaturesPanel</name>
    <message>
        <source>FeaturesPanel</source>
        <translation>Funktionen</translation>
    </message>
    <message>
        <source>Default Application Settings</source>
        <translation>Standardeinstellungen für Anwendungen</translation>
    </message>
    <message>
        <source>Default Priority:</source>
        <translation>Standardpriorität:</translation>
    </message>
    <message>
        <source>2- High</source>
        <translation>2 - Hoch</translation>
    </message>
    <message>
        <source>3 - Normal</source>
        <translation>3 - Normal</translation>
    </message>
    <message>
        <source>4 - Low</source>
        <translation>4 - Niedrig</translation>
    </message>
    <message>
        <source>Block Rule:</source>
        <translation>Sperrregel:</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Zulassen</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Sperren</translation>
    </message>
    <message>
        <source>Global</source>
        <translation>Global</translation>
    </message>
    <message>
        <source>Application Control:</source>
        <translation>Anwendungssteuerung:</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>Aktiviert</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Deaktiviert</translation>
    </message>
    <message>
        <source>Reset Application Data</source>
        <translation>Anwendungsdaten zurücksetzen</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>Do you wish to reset all of your Applications settings?</source>
        <translation>Möchten Sie alle Ihre Anwendungseinstellungen zurücksetzen?</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
</context>
<context>
    <name>OverviewPanel</name>
    <message>
        <source>Enabled</source>
        <translation>Aktiviert</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Deaktiviert</translation>
    </message>
</context>
<context>
    <name>OverviewPanelClass</name>
    <message>
        <source>OverviewPanel</source>
        <translation>Übersicht</translation>
    </message>
    <message>
        <source>Bandwidth Control:</source>
        <translation>Bandbreitensteuerung:</translation>
    </message>
    <message>
        <source>-1</source>
        <translation>-1</translation>
    </message>
    <message>
        <source>Lan Exceptions:</source>
        <translation>LAN-Ausnahmen:</translation>
    </message>
    <message>
        <source>Active Processes:</source>
        <translation>Aktive Prozesse:</translation>
    </message>
    <message>
        <source>Inactive Processes:</source>
        <translation>Inaktive Prozesse:</translation>
    </message>
    <message>
        <source>        Total Bandwidth:</source>
        <translation>        Gesamtbandbreite:</translation>
    </message>
    <message>
        <source>14</source>
        <translation>14</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>7</source>
        <translation>7</translation>
    </message>
    <message>
        <source>Mbps</source>
        <translation>Mbps</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>Upload</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Download</translation>
    </message>
</context>
<context>
    <name>applicationviewClass</name>
    <message>
        <source>applicationview</source>
        <translation>Anwendungsansicht</translation>
    </message>
    <message>
        <source>Sort By:</source>
        <translation>Sortieren nach:</translation>
    </message>
    <message>
        <source>Alphabetical: A-Z</source>
        <translation>Alphabetisch: A-Z</translation>
    </message>
    <message>
        <source>Alphabetical: Z-A</source>
        <translation>Alphabetisch: Z-A</translation>
    </message>
    <message>
        <source>Bandwidth UL: Min-Max</source>
        <translation>Bandbreite Upload: aufsteigend</translation>
    </message>
    <message>
        <source>Bandwidth UL: Max-Min</source>
        <translation>Bandbreite Upload: absteigend</translation>
    </message>
    <message>
        <source>Bandwidth DL: Min-Max</source>
        <translation>Bandbreite Download: aufsteigend</translation>
    </message>
    <message>
        <source>Bandwidth DL: Max-Min</source>
        <translation>Bandbreite Download: absteigend</translation>
    </message>
    <message>
        <source>Show Running Only</source>
        <translation>Nur laufende anzeigen</translation>
    </message>
    <message>
        <source>*Only Wireless Traffic is Bandwidth Controlled</source>
        <translation>*Nur drahtloser Datenverkehr wird in der Bandbreite gesteuert</translation>
    </message>
    <message>
        <source>Total Bandwidth:</source>
        <translation>Gesamtbandbreite:</translation>
    </message>
    <message>
        <source>Units Per Second:</source>
        <translation>Einheiten pro Sekunde:</translation>
    </message>
    <message>
        <source>No Unit</source>
        <translation>Keine Einheit</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>Upload</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Download</translation>
    </message>
</context>
<context>
    <name>modApplications</name>
    <message>
        <source>Applications</source>
        <translation>Anwendungen</translation>
    </message>
    <message>
        <source>Visualize network usage and tune bandwidth to change how your applications access the Internet</source>
        <translation>Netzwerknutzung sichtbar machen und Bandbreite abstimmen, um zu steuern, wie Ihre Anwendungen auf das Internet zugreifen</translation>
    </message>
</context>
</TS>
