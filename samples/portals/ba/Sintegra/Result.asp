<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>SEFAZ Bahia - SINTEGRA - Resultado</title>
<style>
body { font-family: Tahoma, sans-serif; font-size: 13px; margin: 1.5em; }
td { padding: 2px 6px; }
</style>
</head>
<body>
<p><a href="/Sintegra/sintegra.asp?estado=BA">Nova consulta</a> | <a href="/Sintegra/Ajuda.asp">Ajuda</a></p>
<h2>SINTEGRA - Consulta Pública ao Cadastro do Estado da Bahia</h2>
<table>
<tr><td>CNPJ:</td><td>56.789.012/0001-34&nbsp;</td></tr>
<tr><td>Inscrição Estadual:</td><td>12.345.678&nbsp;</td></tr>
<tr><td>Razão Social:</td><td>DENDE DA BAHIA ALIMENTOS LTDA&nbsp;</td></tr>
<tr><td>Logradouro:</td><td>RUA DA GRECIA&nbsp;</td></tr>
<tr><td>Número:</td><td>120&nbsp;</td><td>Complemento:</td><td>SALA 3&nbsp;</td></tr>
<tr><td>Bairro:</td><td>COMERCIO&nbsp;</td></tr>
<tr><td>Município:</td><td>SALVADOR&nbsp;</td><td>UF:</td><td>BA&nbsp;</td></tr>
<tr><td>CEP:</td><td>40010010&nbsp;</td><td>Telefone:</td><td>(71) 33214455&nbsp;</td></tr>
</table>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
</body>
</html>
