out.xml: in.xml ./b\\\\\ 2.xml ./\lead.xml ./mid\dle.xml ./run\\\x.xml ./\ \\\ \\\ \ x.xml
./b\\\\\ 2.xml:
./\lead.xml:
./mid\dle.xml:
./run\\\x.xml:
./\ \\\ \\\ \ x.xml:
