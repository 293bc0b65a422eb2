<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>HelpViewer</name>
    <message>
        <source>Help - %1</source>
        <translation>Hilfe - %1</translation>
    </message>
    <message>
        <source>The help page %1 is missing.</source>
        <translation>Die Hilfeseite %1 fehlt.</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
</context>
<context>
    <name>PluginLoader</name>
    <message>
        <source>%1 is not a plug-in module (entry points missing)</source>
        <translation>%1 ist kein Erweiterungsmodul (Einsprungpunkte fehlen)</translation>
    </message>
    <message>
        <source>%1 was built for another host: %2</source>
        <translation>%1 wurde für einen anderen Host gebaut: %2</translation>
    </message>
    <message>
        <source>%1 does not offer the interface %2</source>
        <translation>%1 bietet die Schnittstelle %2 nicht an</translation>
    </message>
</context>
<context>
    <name>SuiteWindow</name>
    <message>
        <source>%1 &amp;Help</source>
        <translation>%1-&amp;Hilfe</translation>
    </message>
    <message>
        <source>The module offers no main view.</source>
        <translation>Das Modul bietet keine Hauptansicht.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>&amp;Options</source>
        <translation>&amp;Optionen</translation>
    </message>
    <message>
        <source>&amp;LAN Exceptions</source>
        <translation>&amp;LAN-Ausnahmen</translation>
    </message>
    <message>
        <source>Traffic inside the local network is exempt from every limit</source>
        <translation>Datenverkehr im lokalen Netz ist von allen Begrenzungen ausgenommen</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Service online on 127.0.0.1:%1</source>
        <translation>Dienst erreichbar unter 127.0.0.1:%1</translation>
    </message>
    <message>
        <source>Service offline (127.0.0.1:%1)</source>
        <translation>Dienst nicht erreichbar (127.0.0.1:%1)</translation>
    </message>
</context>
<context>
    <name>TranslateSuiteName</name>
    <message>
        <source>NetDeck Network Suite</source>
        <translation>NetDeck Netzwerk-Suite</translation>
    </message>
</context>
<context>
    <name>UnitConvert</name>
    <message>
        <source>Megabytes per second</source>
        <translation>Megabyte pro Sekunde</translation>
    </message>
    <message>
        <source>Megabits per second</source>
        <translation>Megabit pro Sekunde</translation>
    </message>
    <message>
        <source>Kilobytes per second</source>
        <translation>Kilobyte pro Sekunde</translation>
    </message>
    <message>
        <source>Kilobits per second</source>
        <translation>Kilobit pro Sekunde</translation>
    </message>
    <message>
        <source>Bytes per second</source>
        <translation>Byte pro Sekunde</translation>
    </message>
    <message>
        <source>Bits per second</source>
        <translation>Bit pro Sekunde</translation>
    </message>
</context>
<context>
    <name>UnitMenu</name>
    <message>
        <source>&amp;Units</source>
        <translation>&amp;Einheiten</translation>
    </message>
</context>
<context>
    <name>suitehost</name>
    <message>
        <source>cannot write %1</source>
        <translation>%1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>screenshot written to %1</source>
        <translation>Bildschirmfoto nach %1 geschrieben</translation>
    </message>
    <message>
        <source>the list showed no applications (is the service running?)</source>
        <translation>die Liste zeigte keine Anwendungen (läuft der Dienst?)</translation>
    </message>
</context>
</TS>
