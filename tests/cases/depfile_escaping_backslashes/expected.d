out.xml: in.xml ./b\\\#1.xml ./b\\\\\ 2.xml ./b\$$3.xml ./b\\\:4.xml ./end\\ ./t\	5.xml
./b\\\#1.xml:
./b\\\\\ 2.xml:
./b\$$3.xml:
./b\\\:4.xml:
./end\\:
./t\	5.xml:
