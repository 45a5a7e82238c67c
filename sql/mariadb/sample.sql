-- A small sample data set (MariaDB): two agent types on two OS types, type spellings that
-- differ only by blanks and letter case, and NULLs.
INSERT INTO mst_agent_component
       (agent_type, os_type, type, name, filepath, md5_value, state, agent_version,
        binary_version, description, dependencychk, is_reg_required)
VALUES
    ('KA', 'WIN64', 'DLL',  'core.dll',   'bin',     'a1b2c3d4e5f60718293a4b5c6d7e8f90', 'A', '3.4', '1.2',
     'Core library', 'none', TRUE),
    ('KA', 'WIN64', 'EXE',  'agent.exe',  'bin',     'f0e1d2c3b4a5968778695a4b3c2d1e0f', 'A', '3.4', '3.4.1',
     'Agent service', 'core.dll', FALSE),
    ('KA', 'WIN64', ' dll', 'net.dll',    'bin/net', '00112233445566778899aabbccddeeff', 'A', '3.4', '2.0',
     NULL, NULL, NULL),
    ('KA', 'WIN64', 'dll ', 'ui.dll',     'bin/ui',  NULL, 'I', '3.4', NULL,
     'Old user interface', '', FALSE),
    ('KA', 'WIN64', 'Config', 'agent.cfg', 'etc',    'ffeeddccbbaa99887766554433221100', 'A', '3.4', '1',
     'Default settings', NULL, FALSE),
    ('KA', 'LINUX', 'so',   'libcore.so', 'lib',     '0123456789abcdef0123456789abcdef', 'A', '3.5', '1.3',
     'Core library', 'none', FALSE),
    ('KA', 'LINUX', 'bin',  'agentd',     'sbin',    'fedcba9876543210fedcba9876543210', 'A', '3.5', '3.5.0',
     'Agent daemon', 'libcore.so', FALSE),
    ('KB', 'WIN64', 'DLL',  'probe.dll',  'bin',     '11111111111111111111111111111111', 'A', '1.0', '1.0',
     'Probe', NULL, TRUE),
    ('KB', 'WIN64', NULL,   'stray.txt',  NULL,      NULL, NULL, NULL, NULL, NULL, NULL, NULL);
