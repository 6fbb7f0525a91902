out.xml: in.xml ./b.xml ./a.xml ./c.xml ./sub/d.xml ./sub/../a.xml ./sub/e.xml
./b.xml:
./a.xml:
./c.xml:
./sub/d.xml:
./sub/../a.xml:
./sub/e.xml:
