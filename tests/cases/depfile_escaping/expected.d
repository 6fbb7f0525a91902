out\ \#1$$.xml: in\ put.xml ./a\ b.xml ./c\#d.xml ./e$$f.xml ./g\h.xml ./i\\\ j.xml ./k\:l.xml
./a\ b.xml:
./c\#d.xml:
./e$$f.xml:
./g\h.xml:
./i\\\ j.xml:
./k\:l.xml:
